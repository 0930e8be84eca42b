#include "platform/ProgramFiles.h"
#include "settings/ServerSetting.h"
#include "support/FakeSettingsUser.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_ServerSetting : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString File() const { return dir->filePath(u"Quorlin.ini"_s); }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        SetSettingsDirectory(dir->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void missingFileAsksAndKeepsTheAnswer_data() {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("host") << std::optional(u"pop.example.jp"_s) << u"pop.example.jp"_s
                              << QByteArray("pop.example.jp\r\n");
        QTest::newRow("spaces kept")
            << std::optional(u"  pop.example.jp "_s) << u"  pop.example.jp "_s
            << QByteArray("  pop.example.jp \r\n");
        QTest::newRow("code page 932") << std::optional(u"メール.jp"_s) << u"メール.jp"_s
                                       << QByteArray("\x83\x81\x81\x5b\x83\x8b.jp\r\n");
        QTest::newRow("empty answer")
            << std::optional(QString()) << QString() << QByteArray("\r\n");
    }

    // Cancel writes nothing, so the question comes again at the next start.
    void cancelLeavesNoFile() {
        FakeSettingsView view;
        view.text1 = u"stale"_s;
        view.answers = {std::nullopt};
        QVERIFY(LoadServerSetting(view.settings, view));
        QCOMPARE(view.text1, QString());
        QVERIFY(!QFile::exists(File()));
        QVERIFY(view.errors.isEmpty());

        FakeSettingsView nextRun;
        nextRun.answers = {u"pop.example.jp"_s};
        QVERIFY(LoadServerSetting(nextRun.settings, nextRun));
        QCOMPARE(nextRun.questions.size(), 1);
        QCOMPARE(ReadFileBytes(File()), QByteArray("pop.example.jp\r\n"));
    }

    void missingFileAsksAndKeepsTheAnswer() {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, host);
        QFETCH(QByteArray, content);
        FakeSettingsView view;
        view.answers = {answer};
        QVERIFY(!ServerSettingExists());

        QVERIFY(LoadServerSetting(view.settings, view));
        QCOMPARE(view.questions.size(), 1);
        QCOMPARE(view.questions[0].title, u"初期設定"_s);
        QCOMPARE(view.questions[0].prompt,
                 u"初めてですね！\r\n転送先のメールサーバーを入力してください。"_s);
        QCOMPARE(view.questions[0].defaultAnswer, QString());
        QCOMPARE(view.text1, host);
        QCOMPARE(ReadFileBytes(File()), content);
        QVERIFY(view.errors.isEmpty());

        // Whatever was answered, the question does not come again.
        FakeSettingsView nextRun;
        QVERIFY(LoadServerSetting(nextRun.settings, nextRun));
        QVERIFY(nextRun.questions.isEmpty());
        QCOMPARE(nextRun.text1, host);
    }

    void existingFileGivesItsFirstLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("host");
        QTest::newRow("one line") << QByteArray("pop.example.jp\r\n") << u"pop.example.jp"_s;
        QTest::newRow("several lines") << QByteArray("first\r\nsecond\r\n") << u"first"_s;
        QTest::newRow("no line end") << QByteArray("pop.example.jp") << u"pop.example.jp"_s;
        QTest::newRow("lone CR") << QByteArray("first\rsecond") << u"first"_s;
        QTest::newRow("spaces kept")
            << QByteArray(" pop.example.jp  \r\n") << u" pop.example.jp  "_s;
        QTest::newRow("empty first line") << QByteArray("\r\nsecond\r\n") << QString();
        QTest::newRow("zero bytes") << QByteArray("") << QString();
    }

    void existingFileGivesItsFirstLine() {
        QFETCH(QByteArray, content);
        QFETCH(QString, host);
        WriteFileBytes(File(), content);
        FakeSettingsView view;
        view.text1 = u"before"_s;
        QVERIFY(LoadServerSetting(view.settings, view));
        QCOMPARE(view.text1, host);
        QVERIFY(view.questions.isEmpty());
        QVERIFY(view.errors.isEmpty());
        QCOMPARE(ReadFileBytes(File()), content);
    }

    void saveWritesTheBoxAsTheOnlyLine() {
        WriteFileBytes(File(), "first\r\nsecond\r\nthird");
        FakeSettingsView view;
        QVERIFY(LoadServerSetting(view.settings, view));
        QVERIFY(SaveServerSetting(view.settings, view));
        QCOMPARE(ReadFileBytes(File()), QByteArray("first\r\n"));

        view.text1 = u" other.example.jp "_s;
        QVERIFY(SaveServerSetting(view.settings, view));
        QVERIFY(SaveServerSetting(view.settings, view));
        QCOMPARE(ReadFileBytes(File()), QByteArray(" other.example.jp \r\n"));

        QVERIFY(view.errors.isEmpty());

        // A blank box is refused with a word, and the saved host stays.
        for (const QString& blank : {QString(), u" \t "_s}) {
            view.text1 = blank;
            QVERIFY(!SaveServerSetting(view.settings, view));
            QCOMPARE(ReadFileBytes(File()), QByteArray(" other.example.jp \r\n"));
        }
        QCOMPARE(view.errors.size(), 2);
        QVERIFY2(view.errors[0].contains(u"サーバー名が空"_s), qPrintable(view.errors[0]));
    }

    void unwritableFolderIsReported() {
        const QString folder = UnwritableFolder(dir->path());
        SetSettingsDirectory(folder);
        FakeSettingsView view;
        view.answers = {u"pop.example.jp"_s};

        QVERIFY(!LoadServerSetting(view.settings, view));
        QCOMPARE(view.questions.size(), 1);
        QCOMPARE(view.text1, u"pop.example.jp"_s);
        QCOMPARE(view.errors.size(), 1);
        QVERIFY2(view.errors[0].contains(QDir::toNativeSeparators(folder + u"/Quorlin.ini"_s)),
                 qPrintable(view.errors[0]));
        QVERIFY2(!view.errors[0].section(u'\n', -1).isEmpty(), qPrintable(view.errors[0]));

        view.text1 = u"changed"_s;
        QVERIFY(!SaveServerSetting(view.settings, view));
        QCOMPARE(view.errors.size(), 2);
        QCOMPARE(view.text1, u"changed"_s);
    }

    void unreadableFileIsReported() {
        WriteFileBytes(File(), "pop.example.jp\r\n");
        QFile::setPermissions(File(), QFileDevice::Permissions());
        if (QFile file(File()); file.open(QIODevice::ReadOnly)) {
            QSKIP("this user reads files regardless of their permissions");
        }
        FakeSettingsView view;
        view.text1 = u"before"_s;
        QVERIFY(!LoadServerSetting(view.settings, view));
        QCOMPARE(view.text1, u"before"_s);
        QVERIFY(view.questions.isEmpty());
        QCOMPARE(view.errors.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_ServerSetting)
#include "tst_server_setting.moc"
