// How this run reaches the mail server: the options, the saved [Server] settings and trusted
// fingerprints beside Quorlin.ini, the settings box and the trust dialog; and the settings box of
// TLS toward the mail clients.
#include "app/CommandLine.h"
#include "app/StartupSettings.h"
#include "gui/CertificateTrustDialog.h"
#include "gui/ClientTlsBox.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsProblemText.h"
#include "platform/ProgramFiles.h"
#include "settings/OptionsCheck.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSecurity.h"
#include "support/FakeSettingsUser.h"
#include "support/TestCertificates.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

class tst_ServerTlsSettings : public QObject {
    Q_OBJECT

    TestCertificates certificates;
    std::unique_ptr<QTemporaryDir> configDir;

    static QByteArray FileText(const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(certificates.Make(), certificates.log.constData()); }

    void init() {
        configDir = std::make_unique<QTemporaryDir>();
        SetSettingsDirectory(configDir->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void modeAndPort_data() {
        QTest::addColumn<QString>("savedIni"); // [Server] lines of the options file
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("port");
        QTest::newRow("nothing saved, no options") << "" << QStringList{} << "none" << 110;
        QTest::newRow("--security tls") << "" << QStringList{"--security", "tls"} << "tls" << 995;
        QTest::newRow("--security STARTTLS")
            << "" << QStringList{"--security", "STARTTLS"} << "starttls" << 110;
        QTest::newRow("--security tls --server-port")
            << "" << QStringList{"--security", "tls", "--server-port", "1995"} << "tls" << 1995;
        QTest::newRow("saved tls") << "Security=tls" << QStringList{} << "tls" << 995;
        QTest::newRow("saved tls and port")
            << "Security=tls\nPort=2995" << QStringList{} << "tls" << 2995;
        QTest::newRow("saved port belongs to the saved mode")
            << "Security=tls\nPort=2995" << QStringList{"--security", "starttls"} << "starttls"
            << 110;
        QTest::newRow("--server-port over the saved one")
            << "Security=starttls\nPort=2110" << QStringList{"--server-port", "8110"} << "starttls"
            << 8110;
        QTest::newRow("unknown saved word stays plain")
            << "Security=ssl" << QStringList{} << "none" << 110;
    }
    void modeAndPort() {
        QFETCH(QString, savedIni);
        QFETCH(QStringList, arguments);
        QFETCH(QString, mode);
        QFETCH(int, port);
        // An existing one-line Quorlin.ini stays as it is beside the options file.
        QFile host(configDir->filePath(QStringLiteral("Quorlin.ini")));
        QVERIFY(host.open(QIODevice::WriteOnly));
        host.write("mail.example.com\r\n");
        host.close();
        if (!savedIni.isEmpty()) {
            QFile options(OptionsFilePath());
            QVERIFY(options.open(QIODevice::WriteOnly));
            options.write("[Server]\n" + savedIni.toLatin1() + "\n");
        }
        const auto parsed = ParseCommandLine(QStringList{QStringLiteral("quorlin")} + arguments);
        QVERIFY(parsed);
        const Account account = LoadStartupSettings(*parsed).settings.DefaultAccount();
        QCOMPARE(SecurityModeName(account.security), mode);
        QCOMPARE(int(account.port), port);
    }

    void badOptionsRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown mode") << QStringList{"--security", "ssl"};
        QTest::newRow("short fingerprint") << QStringList{"--trust-fingerprint", "AB:CD"};
    }
    void badOptionsRefused() {
        QFETCH(QStringList, arguments);
        QVERIFY(!ParseCommandLine(QStringList{QStringLiteral("quorlin")} + arguments));
    }

    void fingerprintsRepeatedAndColonFree() {
        const QString self = certificates.Fingerprint(QStringLiteral("self"));
        const auto parsed = ParseCommandLine(
            {QStringLiteral("quorlin"), QStringLiteral("--trust-fingerprint"), self,
             QStringLiteral("--trust-fingerprint"),
             certificates.Fingerprint(QStringLiteral("good")).remove(QLatin1Char(':')).toLower()});
        QVERIFY(parsed);
        QCOMPARE(parsed->trustFingerprints,
                 (QList<QByteArray>{certificates.FingerprintBytes(QStringLiteral("self")),
                                    certificates.FingerprintBytes(QStringLiteral("good"))}));
    }

    void savedReadablyPerHost() {
        ServerSecurity security;
        security.mode = SecurityMode::StartTls;
        security.caFile = QStringLiteral("/etc/ssl/private-ca.pem");
        QVERIFY(SaveServerSecurity(security).Ok());
        const QByteArray self = certificates.FingerprintBytes(QStringLiteral("self"));
        QVERIFY(AddTrustedFingerprint(QStringLiteral("Mail.Example.com"), self).Ok());
        QVERIFY(AddTrustedFingerprint(QStringLiteral("mail.example.com"), self).Ok());
        const QByteArray text = FileText(OptionsFilePath());
        QVERIFY2(text.contains("Security=starttls"), text.constData());
        QVERIFY2(text.contains("CaFile=/etc/ssl/private-ca.pem"), text.constData());
        QVERIFY2(text.contains("mail.example.com=" +
                               certificates.Fingerprint(QStringLiteral("self")).toLatin1() + "\n"),
                 text.constData());
        QVERIFY(!text.contains("Port="));
        QCOMPARE(LoadTrustedFingerprints(QStringLiteral("MAIL.example.com")),
                 QList<QByteArray>{self});
        QVERIFY(LoadTrustedFingerprints(QStringLiteral("other.example.com")).isEmpty());
        const ServerSecurity loaded = LoadServerSecurity();
        QCOMPARE(loaded.mode, SecurityMode::StartTls);
        QCOMPARE(loaded.caFile, security.caFile);
        QVERIFY(!loaded.port);
    }

    // A saved entry that is no fingerprint is told with its line and left out, the window's
    // words all Japanese; the fullwidth form of a good one is taken.
    void unusableSavedFingerprintsAreReported() {
        const QString self = certificates.Fingerprint(QStringLiteral("self"));
        QString fullwidth;
        for (const QChar c : self) {
            fullwidth.append(QChar(c.unicode() + 0xFEE0));
        }
        QFile file(OptionsFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("[TrustedCertificates]\nmail.example.com=" + fullwidth +
                    ", ０１２３\n\nother.example.com=zz\n")
                       .toUtf8());
        file.close();
        FakeSettingsUser view;
        ReportUnusableOptions(view);
        QCOMPARE(view.unusablePath, OptionsFilePath());
        QCOMPARE(UnusableSettingsWindowMessage(view.unusablePath, view.unusable),
                 QStringLiteral("設定ファイルに使えない値があります。使わずに続けます。\n") +
                     OptionsFilePath() +
                     QStringLiteral("\n2 行目 mail.example.com=０１２３: 16進数が 4 桁です "
                                    "(SHA-256 の指紋は 64 桁)\n4 行目 other.example.com=zz: "
                                    "「z」は16進数の数字 (0〜9, A〜F) ではありません"));
        QCOMPARE(UnusableSettingsReport(view.unusablePath, view.unusable),
                 QStringLiteral("values in ") + OptionsFilePath() +
                     QStringLiteral(" that cannot be used:\n"
                                    "  line 2: mail.example.com=０１２３: 4 hex digits where a "
                                    "SHA-256 fingerprint has 64\n"
                                    "  line 4: other.example.com=zz: \"z\" is not a hex digit "
                                    "(0-9, A-F)"));
        QCOMPARE(LoadTrustedFingerprints(QStringLiteral("mail.example.com")),
                 QList<QByteArray>{certificates.FingerprintBytes(QStringLiteral("self"))});
    }

    void trustDialogSavesFingerprint_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("offered");
        QTest::newRow("self-signed") << "self" << true;
        QTest::newRow("expired") << "expired" << false;
    }
    void trustDialogSavesFingerprint() {
        QFETCH(QString, certificate);
        QFETCH(bool, offered);
        const TlsFailure failure{QStringLiteral("pop.example.jp"), 995,
                                 QStringLiteral("the certificate is self-signed and not trusted"),
                                 certificates.Certificate(certificate)};
        CertificateTrustDialog dialog(failure);
        dialog.show();
        QCOMPARE(dialog.TrustOffered(), offered);
        auto* shown = dialog.findChild<QLabel*>(QStringLiteral("Fingerprint"));
        QVERIFY(shown);
        QCOMPARE(shown->text(), certificates.Fingerprint(certificate));
        if (offered) {
            QTest::mouseClick(dialog.TrustButton(), Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(LoadTrustedFingerprints(failure.host),
                     QList<QByteArray>{certificates.FingerprintBytes(certificate)});
        }
    }

    // The dialog comes up during a mail check, perhaps while the user types elsewhere: keys it
    // gets never trust, not even Tab and space, until the user has clicked into it.
    void trustDialogTakesNoStrayKeys_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("clickedInto");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("typing a command") << "make test\r" << false << false;
        QTest::newRow("space") << " " << false << false;
        QTest::newRow("Tab, space") << "\t \t " << false << false;
        QTest::newRow("Tab, Enter") << "\t\r" << false << false;
        QTest::newRow("clicked into, Enter") << "\r" << true << false;
        QTest::newRow("clicked into, Tab, space") << "\t " << true << true;
    }
    void trustDialogTakesNoStrayKeys() {
        QFETCH(QString, keys);
        QFETCH(bool, clickedInto);
        QFETCH(bool, trusted);
        const TlsFailure failure{QStringLiteral("pop.example.jp"), 995, QString(),
                                 certificates.Certificate(QStringLiteral("self"))};
        CertificateTrustDialog dialog(failure);
        QVERIFY(dialog.testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(!dialog.isModal());
        dialog.show();
        if (clickedInto) {
            QTest::mouseClick(dialog.findChild<QLabel*>(QStringLiteral("Fingerprint")),
                              Qt::LeftButton);
        }
        // As if the dialog had the keyboard: each key goes where its focus is.
        for (const QChar key : keys) {
            QWidget* target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
            QTest::keyClick(target, key.toLatin1());
        }
        QCOMPARE(!LoadTrustedFingerprints(failure.host).isEmpty(), trusted);
    }

    // What the box saves is what the next start reads; the certificate in force is shown with
    // the fingerprints openssl gives and the lines to paste.
    void clientTlsBoxSavesAndShowsTheCertificate() {
        ClientTlsBox box;
        box.SetValue(LoadClientTlsSetting());
        QVERIFY(box.EnabledBox()->isChecked());
        box.EnabledBox()->setChecked(false);
        box.PortBox()->setValue(1995);
        box.CertificateBox()->setText(certificates.Path(QStringLiteral("self")));
        box.KeyBox()->setText(certificates.KeyPath(QStringLiteral("self")));
        QVERIFY(SaveClientTlsChanges(LoadClientTlsSetting(), box.Value()).Ok());
        const QByteArray saved = FileText(OptionsFilePath());
        QVERIFY2(
            saved.contains(
                "[ClientTls]\nCertificate=" + certificates.Path(QStringLiteral("self")).toUtf8() +
                "\nEnabled=false\nKey=" + certificates.KeyPath(QStringLiteral("self")).toUtf8() +
                "\nPort=1995\n"),
            saved.constData());
        const ClientTlsSetting loaded = LoadClientTlsSetting();
        QVERIFY(!loaded.enabled);
        QCOMPARE(loaded.implicitPort, quint16(1995));

        box.ShowCertificate({certificates.Path(QStringLiteral("self")),
                             {certificates.Certificate(QStringLiteral("self"))},
                             certificates.Key(QStringLiteral("self"))});
        const QString shown = box.TrustText()->toPlainText();
        for (const QString& expected :
             {QStringLiteral("SHA-256: ") + certificates.Fingerprint(QStringLiteral("self")),
              QStringLiteral("  sslcertfile \"%1\"").arg(certificates.Path(QStringLiteral("self"))),
              QStringLiteral("  set certificate_file=\"%1\"")
                  .arg(certificates.Path(QStringLiteral("self")))}) {
            QVERIFY2(shown.contains(expected), qPrintable(shown));
        }
    }

    void boxMovesDefaultPortWithMode() {
        ServerSecurityBox box;
        box.SetValue(ServerSecurity{});
        box.ModeBox()->setCurrentIndex(box.ModeBox()->findData(int(SecurityMode::Tls)));
        QCOMPARE(box.PortBox()->value(), 995);
        QVERIFY(!box.Value().port);
        box.PortBox()->setValue(1995);
        box.ModeBox()->setCurrentIndex(box.ModeBox()->findData(int(SecurityMode::StartTls)));
        QCOMPARE(box.PortBox()->value(), 1995);
        QCOMPARE(box.Value().port, std::optional<quint16>(1995));
        QCOMPARE(box.Value().mode, SecurityMode::StartTls);
    }
};

QTEST_MAIN(tst_ServerTlsSettings)
#include "tst_server_tls_settings.moc"
