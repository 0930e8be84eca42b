// The blocked list and the server box edited with their keys, and the files they write.
#include "gui/SettingsKeys.h"
#include "platform/ProgramFiles.h"
#include "settings/BlockedList.h"
#include "settings/ServerSetting.h"
#include "support/FakeSettingsUser.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_SettingsEdits : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString File() const { return dir->filePath(u"Quorlin_BatList.ini"_s); }
    QString ServerFile() const { return dir->filePath(u"Quorlin.ini"_s); }

    // A view holding what the file holds, as after start-up.
    void LoadFrom(const QByteArray& content, FakeSettingsView& view) {
        WriteFileBytes(File(), content);
        QVERIFY(LoadBlockedList(view.settings, view));
    }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        SetSettingsDirectory(dir->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void missingFileGivesEmptyListAndNoFile() {
        FakeSettingsView view;
        QVERIFY(LoadBlockedList(view.settings, view));
        QVERIFY(view.list3.isEmpty());
        QVERIFY(!QFileInfo::exists(File()));
        QVERIFY(view.errors.isEmpty());
    }

    void loadKeepsEveryLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("two names, case kept")
            << QByteArray("ISO-2022-KR\r\nbig5\r\n") << QStringList{u"ISO-2022-KR"_s, u"big5"_s};
        QTest::newRow("empty middle line, no final line end")
            << QByteArray("GB2312\r\n\r\nbig5") << QStringList{u"GB2312"_s, QString(), u"big5"_s};
        QTest::newRow("spaces and duplicates kept")
            << QByteArray(" big5 \r\nbig5\r\nbig5\r\n")
            << QStringList{u" big5 "_s, u"big5"_s, u"big5"_s};
        QTest::newRow("zero bytes") << QByteArray("") << QStringList();
    }

    void loadKeepsEveryLine() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, entries);
        FakeSettingsView view;
        view.list3 = {u"already"_s};
        LoadFrom(content, view);
        QCOMPARE(view.list3, QStringList{u"already"_s} + entries);
        QVERIFY(view.errors.isEmpty());
    }

    void addAppendsAndRewrites() {
        FakeSettingsView view;
        LoadFrom("ISO-2022-KR\r\nbig5", view);
        view.answers = {u"  GB2312 "_s, u"big5"_s};

        QVERIFY(AddBlockedEntry(view.settings, view));
        QCOMPARE(view.questions.size(), 1);
        QCOMPARE(view.questions[0].prompt, u"受け取りたくない文字セットを入力してください。"_s);
        QCOMPARE(view.questions[0].title, u"Quorlin"_s);
        QCOMPARE(view.questions[0].defaultAnswer, QString());
        QCOMPARE(view.list3, (QStringList{u"ISO-2022-KR"_s, u"big5"_s, u"GB2312"_s}));
        QCOMPARE(ReadFileBytes(File()), QByteArray("ISO-2022-KR\r\nbig5\r\nGB2312\r\n"));

        QVERIFY(AddBlockedEntry(view.settings, view));
        QCOMPARE(view.list3.count(u"big5"_s), 2);
        QCOMPARE(ReadFileBytes(File()), QByteArray("ISO-2022-KR\r\nbig5\r\nGB2312\r\nbig5\r\n"));
        QVERIFY(view.errors.isEmpty());
    }

    void emptyAnswerOrCancelChangesNothing() {
        FakeSettingsView view;
        view.answers = {QString(), u"  "_s, std::nullopt};
        QVERIFY(AddBlockedEntry(view.settings, view));
        QVERIFY(AddBlockedEntry(view.settings, view));
        QVERIFY(AddBlockedEntry(view.settings, view));
        QCOMPARE(view.questions.size(), 3);
        QVERIFY(view.list3.isEmpty());
        QVERIFY(!QFileInfo::exists(File()));

        LoadFrom("big5", view);
        view.answers = {std::nullopt};
        QVERIFY(AddBlockedEntry(view.settings, view));
        QCOMPARE(view.list3, QStringList{u"big5"_s});
        QCOMPARE(ReadFileBytes(File()), QByteArray("big5"));
    }

    void removeTakesTheFirstSelected() {
        FakeSettingsView view;
        LoadFrom("a\r\nb\r\nc\r\n", view);
        view.selected = 1;
        QVERIFY(RemoveBlockedEntry(view.settings, view, view.selected));
        QCOMPARE(view.list3, (QStringList{u"a"_s, u"c"_s}));
        QCOMPARE(ReadFileBytes(File()), QByteArray("a\r\nc\r\n"));
    }

    void removingTheOnlyEntryLeavesZeroBytes() {
        FakeSettingsView view;
        LoadFrom("GB2312\r\n", view);
        view.selected = 0;
        QVERIFY(RemoveBlockedEntry(view.settings, view, view.selected));
        QVERIFY(view.list3.isEmpty());
        QCOMPARE(ReadFileBytes(File()), QByteArray(""));

        FakeSettingsView nextRun;
        QVERIFY(LoadBlockedList(nextRun.settings, nextRun));
        QVERIFY(nextRun.list3.isEmpty());
    }

    void removeWithoutSelectionRewritesUnchanged() {
        FakeSettingsView view;
        LoadFrom("ISO-2022-KR\r\n\r\nbig5", view);
        QVERIFY(RemoveBlockedEntry(view.settings, view, view.selected));
        QCOMPARE(view.list3, (QStringList{u"ISO-2022-KR"_s, QString(), u"big5"_s}));
        QCOMPARE(ReadFileBytes(File()), QByteArray("ISO-2022-KR\r\n\r\nbig5\r\n"));

        // With no file yet, the first remove is what creates it.
        QVERIFY(QFile::remove(File()));
        FakeSettingsView empty;
        QVERIFY(RemoveBlockedEntry(empty.settings, empty, empty.selected));
        QCOMPARE(ReadFileBytes(File()), QByteArray(""));
    }

    void keysInsertAndDelete() {
        FakeSettingsView view;
        view.answers = {u"big5"_s};
        QVERIFY(!BlockedListKeyDown(view.settings, view, view.selected, VirtualKey::Enter));
        QVERIFY(!BlockedListKeyDown(view.settings, view, view.selected, VirtualKey{'A'}));
        QVERIFY(view.questions.isEmpty());
        QVERIFY(!QFileInfo::exists(File()));

        QVERIFY(BlockedListKeyDown(view.settings, view, view.selected, VirtualKey::Insert));
        QCOMPARE(view.list3, QStringList{u"big5"_s});
        view.selected = 0;
        QVERIFY(BlockedListKeyDown(view.settings, view, view.selected, VirtualKey::Delete));
        QVERIFY(view.list3.isEmpty());
        QCOMPARE(ReadFileBytes(File()), QByteArray(""));
    }

    void enterSavesAndOtherKeysAreLeftAlone() {
        FakeSettingsView view;
        view.text1 = u"pop.example.jp"_s;
        QVERIFY(!ServerBoxKeyDown(view.settings, view, VirtualKey{'A'}));
        QVERIFY(!ServerBoxKeyDown(view.settings, view, VirtualKey::Insert));
        QVERIFY(!QFileInfo::exists(ServerFile()));
        QVERIFY(ServerBoxKeyDown(view.settings, view, VirtualKey::Enter));
        QCOMPARE(ReadFileBytes(ServerFile()), QByteArray("pop.example.jp\r\n"));
    }

    void unwritableFolderIsReported() {
        const QString folder = UnwritableFolder(dir->path());
        SetSettingsDirectory(folder);
        FakeSettingsView view;
        view.answers = {u"big5"_s};

        QVERIFY(!AddBlockedEntry(view.settings, view));
        // The list keeps the entry for this run even though it could not be stored.
        QCOMPARE(view.list3, QStringList{u"big5"_s});
        QCOMPARE(view.errors.size(), 1);
        QVERIFY2(
            view.errors[0].contains(QDir::toNativeSeparators(folder + u"/Quorlin_BatList.ini"_s)),
            qPrintable(view.errors[0]));
        QVERIFY2(!view.errors[0].section(u'\n', -1).isEmpty(), qPrintable(view.errors[0]));

        view.selected = 0;
        QVERIFY(!RemoveBlockedEntry(view.settings, view, view.selected));
        QVERIFY(view.list3.isEmpty());
        QCOMPARE(view.errors.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_SettingsEdits)
#include "tst_settings_edits.moc"
