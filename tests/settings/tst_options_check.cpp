// The options file's values as they are spelled by hand: what is taken, and what is reported
// with its line rather than quietly read as off or as the default.
#include "platform/ProgramFiles.h"
#include "settings/OptionsCheck.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSecurity.h"
#include "settings/TaggingOptions.h"
#include "support/FileBytes.h"

#include <QTemporaryDir>
#include <QTest>

class tst_OptionsCheck : public QObject {
    Q_OBJECT

    // A folder of its own for each row: QSettings keeps a file's content while its size and
    // time stay, and rows written within a moment can have both alike.
    std::unique_ptr<QTemporaryDir> folder;

private Q_SLOTS:
    void init() {
        folder = std::make_unique<QTemporaryDir>();
        SetSettingsDirectory(folder->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void spellings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("encodedWords"); // -1: refused
        QTest::addColumn<QString>("refused");  // the line reported, "" for none
        for (const char* on : {"true", "True", "1", "yes", "ON", " on "}) {
            QTest::addRow("EncodedWords=%s", on)
                << QByteArray("[Tagging]\nEncodedWords=") + on << 1 << QString();
        }
        for (const char* off : {"false", "0", "No", "off"}) {
            QTest::addRow("EncodedWords=%s", off)
                << QByteArray("[Tagging]\nEncodedWords=") + off << 0 << QString();
        }
        QTest::newRow("EncodedWords=maybe")
            << QByteArray("[Tagging]\nEncodedWords=maybe") << -1 << "2 EncodedWords=maybe";
        QTest::newRow("EncodedWords=")
            << QByteArray("[Tagging]\nEncodedWords=") << -1 << "2 EncodedWords=";
        QTest::newRow("Security=TLS") << QByteArray("[Server]\nSecurity=TLS") << 0 << QString();
        QTest::newRow("Security=ssl")
            << QByteArray("[Server]\nSecurity=ssl") << 0 << "2 Security=ssl";
        QTest::newRow("Port=abc") << QByteArray("[Listen]\nPort=abc") << 0 << "2 Port=abc";
        QTest::newRow("Limit=0") << QByteArray("[Clients]\nLimit=0") << 0 << "2 Limit=0";
        QTest::newRow("no equals sign")
            << QByteArray("; by hand\n[Tagging]\nEncodedWords true") << 0 << "3 EncodedWords true";
        QTest::newRow("unclosed section")
            << QByteArray("[Tagging\nEncodedWords=1") << 1 << "1 [Tagging";
    }
    void spellings() {
        QFETCH(QByteArray, file);
        QFETCH(int, encodedWords);
        QFETCH(QString, refused);
        WriteFileBytes(OptionsFilePath(), file + "\n");
        if (encodedWords >= 0) {
            QCOMPARE(LoadTaggingOptions(false).encodedWords, encodedWords == 1);
        }
        QStringList found;
        for (const UnusableSetting& setting : UnusableOptions()) {
            found << QStringLiteral("%1 %2").arg(setting.line).arg(setting.entry);
        }
        QCOMPARE(found, refused.isEmpty() ? QStringList() : QStringList{refused});
    }
};

QTEST_GUILESS_MAIN(tst_OptionsCheck)
#include "tst_options_check.moc"
