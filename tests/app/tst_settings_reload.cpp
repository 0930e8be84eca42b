// The settings files read again: the command line stays over them, as at start, and what
// cannot be used is found.
#include "app/SettingsReload.h"
#include "platform/ProgramFiles.h"
#include "support/FileBytes.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// The files say plain text to port 110 of files.example.jp, listening on 1110, no tagging
// options, no log file, TLS toward the clients with a TLS port.
const QByteArray Files = "[Server]\nSecurity=none\nPort=110\n"
                         "[Listen]\nPort=1110\n"
                         "[Tagging]\nEncodedWords=false\n"
                         "[ClientTls]\nEnabled=on\nPort=1995\n";

} // namespace

class tst_SettingsReload : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

private Q_SLOTS:
    void init() {
        SetSettingsDirectory(folder.path());
        WriteFileBytes(folder.filePath(QStringLiteral("Quorlin.ini")), "files.example.jp\r\n");
        WriteFileBytes(folder.filePath(QStringLiteral("Quorlin_Options.ini")), Files);
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void commandLineStaysOverTheFiles_data() {
        QTest::addColumn<QStringList>("given"); // the option's name, for the row
        QTest::newRow("--security tls") << QStringList{"security"};
        QTest::newRow("--server-port") << QStringList{"server-port"};
        QTest::newRow("--server") << QStringList{"server"};
        QTest::newRow("--listen-port") << QStringList{"listen-port"};
        QTest::newRow("--trust-fingerprint") << QStringList{"trust-fingerprint"};
        QTest::newRow("--tag-encoded-words") << QStringList{"tag-encoded-words"};
        QTest::newRow("--log-file") << QStringList{"log-file"};
        QTest::newRow("--client-tls off") << QStringList{"client-tls"};
        QTest::newRow("--client-tls-port") << QStringList{"client-tls-port"};
    }
    void commandLineStaysOverTheFiles() {
        QFETCH(QStringList, given);
        const QString option = given.first();
        AppOptions options;
        const QByteArray pin(32, '\x5a');
        if (option == "security") {
            options.security = SecurityMode::Tls;
        } else if (option == "server-port") {
            options.serverPort = 2110;
        } else if (option == "server") {
            options.server = QStringLiteral("line.example.jp");
        } else if (option == "listen-port") {
            options.listenPort = 2111;
        } else if (option == "trust-fingerprint") {
            options.trustFingerprints = {pin};
        } else if (option == "tag-encoded-words") {
            options.tagEncodedWords = true;
        } else if (option == "client-tls") {
            options.clientTls = false;
        } else if (option == "client-tls-port") {
            options.clientTlsPort = 2995;
        } else {
            options.logFile = QStringLiteral("/var/tmp/quorlin.log");
        }
        Settings inForce;
        inForce.DefaultAccount().host = options.server.value_or(QStringLiteral("old.example.jp"));
        const ReloadedSettings reloaded =
            ReadSettingsAgain(options, inForce, HostOnReload::FromFile);
        QVERIFY(!reloaded.problems.Any());
        const Settings& settings = reloaded.settings;
        const Account& account = settings.DefaultAccount();
        QCOMPARE(account.security, option == "security" ? SecurityMode::Tls : SecurityMode::None);
        QCOMPARE(account.port, option == "security" ? 995 : option == "server-port" ? 2110 : 110);
        QCOMPARE(account.host, option == "server" ? "line.example.jp" : "files.example.jp");
        QCOMPARE(settings.listen.port, option == "listen-port" ? 2111 : 1110);
        QCOMPARE(account.pinnedFingerprints,
                 option == "trust-fingerprint" ? QList<QByteArray>{pin} : QList<QByteArray>());
        QCOMPARE(settings.encodedWords, option == "tag-encoded-words");
        QCOMPARE(settings.log.file, option == "log-file" ? "/var/tmp/quorlin.log" : "");
        QCOMPARE(settings.ClientTlsReady(), option != "client-tls");
        QCOMPARE(settings.clientTls.implicitPort, option == "client-tls-port" ? 2995 : 1995);
    }

    // The window's server box holds the host in force; the box for mail without a character set
    // is no file's.
    void windowsOwnSettingsStay() {
        Settings inForce;
        inForce.DefaultAccount().host = QStringLiteral("typed.example.jp");
        inForce.tagUnlabelled = false;
        const ReloadedSettings reloaded =
            ReadSettingsAgain(AppOptions(), inForce, HostOnReload::InForce);
        QCOMPARE(reloaded.settings.DefaultAccount().host, QStringLiteral("typed.example.jp"));
        QVERIFY(!reloaded.settings.tagUnlabelled);
    }

    void problemsFound() {
        WriteFileBytes(folder.filePath(QStringLiteral("Quorlin_Options.ini")),
                       "[Server]\nSecurity=tls\nCaFile=" +
                           folder.filePath(QStringLiteral("none.pem")).toUtf8() +
                           "\n[Tagging]\nEncodedWords=maybe\n"
                           "[ClientTls]\nCertificate=/nonexistent/cert.pem\n"
                           "Key=/nonexistent/key.pem\n");
        const ReloadedSettings reloaded =
            ReadSettingsAgain(AppOptions(), Settings(), HostOnReload::FromFile);
        QVERIFY(reloaded.problems.caFile);
        QVERIFY(reloaded.problems.clientCertificate.contains("/nonexistent/cert.pem"));
        QCOMPARE(reloaded.problems.unusable.size(), 1);
        QCOMPARE(reloaded.problems.unusable.first().entry, QStringLiteral("EncodedWords=maybe"));
        QCOMPARE(reloaded.problems.unusable.first().line, 5);
    }
};

QTEST_GUILESS_MAIN(tst_SettingsReload)
#include "tst_settings_reload.moc"
