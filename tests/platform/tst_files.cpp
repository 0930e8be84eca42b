#include "platform/ProgramFiles.h"
#include "support/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class tst_Files : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void programDirectoryCanBeOverridden() {
        QCOMPARE(SettingsDirectory(), QCoreApplication::applicationDirPath());
        SetSettingsDirectory(dir.path());
        QCOMPARE(SettingsDirectory(), dir.path());
        SetSettingsDirectory(QString());
        QCOMPARE(SettingsDirectory(), QCoreApplication::applicationDirPath());
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
        const Result<QStringList> read = ReadLines(Path(u"read.ini"_s));
        QVERIFY(read.Ok());
        QCOMPARE(read.Value(), lines);
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
        const Result<> written = WriteLines(path, lines);
        QVERIFY(written.Ok());
        QCOMPARE(ReadFileBytes(path), content);
        QVERIFY(QFileInfo(path).isFile());
    }

    // A write that cannot finish (the disk fills, a size limit is reached, the folder takes no
    // new file) is refused with the system's reason and leaves the old file as it was.
    void unfinishedWriteKeepsTheOldFile_data() {
        QTest::addColumn<bool>("folderTakesNoNewFile");
        QTest::addColumn<int>("reason");
        QTest::newRow("file size limit") << false << EFBIG;
        QTest::newRow("folder takes no new file") << true << EACCES;
    }

    void unfinishedWriteKeepsTheOldFile() {
        QFETCH(bool, folderTakesNoNewFile);
        QFETCH(int, reason);
        QTemporaryDir scratch;
        const QString path = scratch.filePath(u"Quorlin_BatList.ini"_s);
        const QByteArray old = "ISO-2022-KR\r\nbig5\r\n";
        WriteFileBytes(path, old);
        constexpr QFileDevice::Permissions ReadAndEnter =
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
            QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
        const bool asNobody = folderTakesNoNewFile && ::geteuid() == 0;
        if (folderTakesNoNewFile) {
            // Permission bits do not stop root: root writes as nobody, who may change the file
            // but not add one beside it.
            QVERIFY(QFile::setPermissions(path, ReadAndEnter | QFileDevice::WriteOwner |
                                                    QFileDevice::WriteGroup |
                                                    QFileDevice::WriteOther));
            QVERIFY(QFile::setPermissions(
                scratch.path(), asNobody ? ReadAndEnter | QFileDevice::WriteOwner : ReadAndEnter));
        }

        // The new content is larger than the limit, so any write of it stops halfway.
        const QString entry(5000, u'x');
        rlimit sizeLimit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &sizeLimit), 0);
        const rlimit unlimited = sizeLimit;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        sizeLimit.rlim_cur = 1000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &sizeLimit), 0);
        const bool becameNobody = asNobody && ::seteuid(65534) == 0;
        const Result<> written = WriteLines(path, {u"big5"_s, entry});
        if (becameNobody) {
            QCOMPARE(::seteuid(0), 0);
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        std::signal(SIGXFSZ, oldHandler);
        QFile::setPermissions(scratch.path(), ReadAndEnter | QFileDevice::WriteOwner);
        QCOMPARE(becameNobody, asNobody);

        QVERIFY(!written.Ok());
        QCOMPARE(written.Error(), QString::fromLocal8Bit(std::strerror(reason)));
        QCOMPARE(ReadFileBytes(path), old);
        QCOMPARE(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"Quorlin_BatList.ini"_s});
    }

    void failuresCarryPathAndReason() {
        WriteFileBytes(Path(u"regular"_s), "x");
        QVERIFY(QDir(dir.path()).mkpath(u"folder.ini"_s));

        const Result<QStringList> missing = ReadLines(Path(u"missing.ini"_s));
        QVERIFY(!missing.Ok());
        QCOMPARE(missing.Where(), Path(u"missing.ini"_s));
        QVERIFY(!missing.Error().isEmpty());

        const Result<QStringList> folder = ReadLines(Path(u"folder.ini"_s));
        QVERIFY(!folder.Ok());
        QVERIFY(!folder.Error().isEmpty());

        // A path below a regular file cannot be created, whoever runs the test.
        const QString belowFile = Path(u"regular/write.ini"_s);
        const Result<> notCreated = WriteLines(belowFile, {u"a"_s});
        QVERIFY(!notCreated.Ok());
        QCOMPARE(notCreated.Where(), belowFile);
        QVERIFY(!notCreated.Error().isEmpty());

        const Result<> onFolder = WriteLines(Path(u"folder.ini"_s), {u"a"_s});
        QVERIFY(!onFolder.Ok());
        QVERIFY(!onFolder.Error().isEmpty());
        QVERIFY(QFileInfo(Path(u"folder.ini"_s)).isDir());
    }
};

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
