#include "platform/ProgramFiles.h"
#include "support/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void programDirectoryCanBeOverridden() {
        QCOMPARE(ProgramDirectory(), QCoreApplication::applicationDirPath());
        SetProgramDirectory(dir.path());
        QCOMPARE(ProgramDirectory(), dir.path());
        SetProgramDirectory(QString());
        QCOMPARE(ProgramDirectory(), QCoreApplication::applicationDirPath());
    }

    void onlyPlainFilesExist() {
        WriteFileBytes(Path(u"plain.ini"_s), "x");
        QVERIFY(QDir(dir.path()).mkdir(u"folder.ini"_s));
        QVERIFY(PlainFileExists(Path(u"plain.ini"_s)));
        QVERIFY(!PlainFileExists(Path(u"folder.ini"_s)));
        QVERIFY(!PlainFileExists(Path(u"missing.ini"_s)));
    }

    void readLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("zero bytes") << QByteArray() << QStringList();
        QTest::newRow("one line with CR LF") << QByteArray("a\r\n") << QStringList{u"a"_s};
        QTest::newRow("no final line end") << QByteArray("a\r\nb") << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("empty lines")
            << QByteArray("\r\na\r\n\r\n") << QStringList{QString(), u"a"_s, QString()};
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("CR before CR LF") << QByteArray("a\r\r\n") << QStringList{u"a"_s, QString()};
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("spaces kept") << QByteArray("  a b  \r\n") << QStringList{u"  a b  "_s};
        QTest::newRow("code page 932")
            << QByteArray("\x8a\xbf\x8e\x9a\r\n\xb1\r\n") << QStringList{u"漢字"_s, u"ｱ"_s};
    }

    void readLines() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, lines);
        WriteFileBytes(Path(u"read.ini"_s), content);
        const LinesResult read = ReadLines(Path(u"read.ini"_s));
        QVERIFY(read.ok);
        QCOMPARE(read.lines, lines);
    }

    void writeLinesReplacesTheWholeFile_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("nothing") << QStringList() << QByteArray("");
        QTest::newRow("one empty line") << QStringList{QString()} << QByteArray("\r\n");
        QTest::newRow("several") << QStringList{u" a "_s, QString(), u"漢"_s, u"é"_s}
                                 << QByteArray(" a \r\n\r\n\x8a\xbf\r\n?\r\n");
    }

    void writeLinesReplacesTheWholeFile() {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, content);
        const QString path = Path(u"write.ini"_s);
        WriteFileBytes(path, "an older and much longer content\r\nsecond line\r\n");
        const FileResult written = WriteLines(path, lines);
        QVERIFY(written.ok);
        QCOMPARE(ReadFileBytes(path), content);
        QVERIFY(QFileInfo(path).isFile());
    }

    void writableFileInReadOnlyFolderIsWrittenInPlace() {
        const QString folder = Path(u"read-only"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + u"/list.ini"_s;
        WriteFileBytes(path, "old\r\n");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool canAddFiles = QFile(folder + u"/probe"_s).open(QIODevice::WriteOnly);
        const FileResult written = WriteLines(path, {u"new"_s});
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        if (canAddFiles) {
            QSKIP("this user writes into read-only folders");
        }
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(ReadFileBytes(path), QByteArray("new\r\n"));
    }

    void failuresCarryPathAndReason() {
        WriteFileBytes(Path(u"regular"_s), "x");
        QVERIFY(QDir(dir.path()).mkpath(u"folder.ini"_s));

        const LinesResult missing = ReadLines(Path(u"missing.ini"_s));
        QVERIFY(!missing.ok);
        QCOMPARE(missing.path, Path(u"missing.ini"_s));
        QVERIFY(!missing.error.isEmpty());

        const LinesResult folder = ReadLines(Path(u"folder.ini"_s));
        QVERIFY(!folder.ok);
        QVERIFY(!folder.error.isEmpty());

        // A path below a regular file cannot be created, whoever runs the test.
        const QString belowFile = Path(u"regular/write.ini"_s);
        const FileResult notCreated = WriteLines(belowFile, {u"a"_s});
        QVERIFY(!notCreated.ok);
        QCOMPARE(notCreated.path, belowFile);
        QVERIFY(!notCreated.error.isEmpty());

        const FileResult onFolder = WriteLines(Path(u"folder.ini"_s), {u"a"_s});
        QVERIFY(!onFolder.ok);
        QVERIFY(!onFolder.error.isEmpty());
        QVERIFY(QFileInfo(Path(u"folder.ini"_s)).isDir());
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
