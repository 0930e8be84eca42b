// The settings dialog shows the settings in force, marks this run's command line, writes only
// what the user changed and puts the result in force at once; the port a failure names is the
// port tried; a CA file that cannot be read is refused; start at login; the tagging's options.
#include "support/FileBytes.h"
#include "support/LoopbackPeers.h"
#include "support/WindowTestSupport.h"

#include "gui/DisplayTls.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

QString ServerLog(Shell::Display& display) {
    QStringList lines;
    LogListModel& list1 = LogModel(display, "List1");
    for (int row = 0; row < list1.rowCount(); ++row) {
        lines << list1.data(list1.index(row)).toString();
    }
    return lines.join(QLatin1Char('\n'));
}

// A caption on a row of a form: a label left out of the layouts would not be seen.
bool HasCaption(QWidget* dialog, const QString& text) {
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        const QLayout* rows = label->parentWidget()->layout();
        if (label->text() == text && rows && rows->indexOf(label) >= 0) {
            return true;
        }
    }
    return false;
}

// Opens the settings with the window's button and plays `steps` on the dialogs that come up.
int PlaySettings(Shell::Display& display, QList<std::function<void(QWidget*)>> steps) {
    ModalSteps played(std::move(steps));
    Control<QPushButton>(display, "Command3")->click();
    return played.seen;
}

template <typename Widget> Widget* In(QWidget* dialog, const char* name) {
    return dialog->findChild<Widget*>(QString::fromLatin1(name));
}

} // namespace

class tst_SettingsInForce : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Started with --security tls --server-port N (or only --server-port N): the dialog shows
    // them, marked; OK without a change writes nothing, and the next check goes where it went.
    void okLeavesTheRunsCommandLine_data() {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<bool>("tls");
        QTest::newRow("--security tls --server-port N")
            << QByteArray("[Server]\nSecurity=none\nPort=110\n") << true;
        QTest::newRow("--server-port N") << QByteArray("[Server]\nPort=110\n") << false;
    }
    void okLeavesTheRunsCommandLine() {
        QFETCH(QByteArray, saved);
        QFETCH(bool, tls);
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        folder.Write("Quorlin_Options.ini", saved);
        QTcpServer upstream;
        QVERIFY(upstream.listen(QHostAddress::LocalHost, 0));
        AppOptions options = TestOptions(upstream.serverPort());
        if (tls) {
            options.security = SecurityMode::Tls;
        }
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        InstallServerTls(session);
        Shell::Display& display = session.Window();
        const QString caption = display.windowTitle();
        QCOMPARE(caption.endsWith(QStringLiteral(" [TLS]")), tls);

        const int seen =
            PlaySettings(display, {[&](QWidget* dialog) {
                             auto* security = dialog->findChild<ServerSecurityBox*>();
                             QCOMPARE(SecurityMode(security->ModeBox()->currentData().toInt()),
                                      tls ? SecurityMode::Tls : SecurityMode::None);
                             QCOMPARE(security->PortBox()->value(), int(upstream.serverPort()));
                             QCOMPARE(HasCaption(dialog, QStringLiteral("暗号化 ＊")), tls);
                             QVERIFY(HasCaption(dialog, QStringLiteral("ポート ＊")));
                             QVERIFY(In<QLabel>(dialog, "CommandLineNote")->isVisibleTo(dialog));
                             ClickLater(OkButton(dialog));
                         }});
        QCOMPARE(seen, 1);
        QCOMPARE(folder.Read("Quorlin_Options.ini"), saved);
        QCOMPARE(display.windowTitle(), caption);
        const Account& account = session.CurrentSettings().DefaultAccount();
        QCOMPARE(account.security, tls ? SecurityMode::Tls : SecurityMode::None);
        QCOMPARE(account.port, upstream.serverPort());

        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_VERIFY(upstream.hasPendingConnections());
    }

    // TLS toward the mail clients as the rest: a port from the command line shown marked and
    // not saved by an OK without changes; a new port listened on at once, with the certificate
    // in force, and written alone, the file's own words kept.
    void clientTlsPortInForce() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        const QByteArray saved = "[ClientTls]\nEnabled=yes\n";
        folder.Write("Quorlin_Options.ini", saved);
        AppOptions options = TestOptions();
        options.clientTlsPort = FreeLoopbackPort();
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        Relay& relay = session.RelayCore();
        QCOMPARE(relay.TlsListeningPort(), *options.clientTlsPort);

        const quint16 moved = FreeLoopbackPort();
        for (const quint16 chosen : {*options.clientTlsPort, moved}) {
            PlaySettings(session.Window(), {[&](QWidget* dialog) {
                             auto* port = In<QSpinBox>(dialog, "ClientTlsPort");
                             QCOMPARE(port->value(), int(relay.TlsListeningPort()));
                             QVERIFY(HasCaption(dialog, QStringLiteral("SSL/TLS ポート ＊")));
                             port->setValue(chosen);
                             ClickLater(OkButton(dialog));
                         }});
        }
        QCOMPARE(folder.Read("Quorlin_Options.ini"),
                 saved + "Port=" + QByteArray::number(moved) + "\n");
        QVERIFY(relay.ListeningForTls());
        QCOMPARE(relay.TlsListeningPort(), moved);
        QVERIFY(session.CurrentSettings().ClientTlsReady());
    }

    // The port a failure names is the port Quorlin connected to, wherever it came from.
    void failureNamesThePortTried_data() {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("fromDialog");
        QTest::addColumn<int>("tried"); // 0: a port nothing listens on
        QTest::newRow("plain, --server-port") << QByteArray() << false << false << 0;
        QTest::newRow("tls, its default") << QByteArray() << true << false << 995;
        QTest::newRow("saved Port=") << QByteArray("[Server]\nPort=%1\n") << false << false << 0;
        QTest::newRow("changed in the dialog") << QByteArray() << false << true << 0;
    }
    void failureNamesThePortTried() {
        QFETCH(QByteArray, saved);
        QFETCH(bool, tls);
        QFETCH(bool, fromDialog);
        QFETCH(int, tried);
        if (tried == 0) {
            tried = FreeLoopbackPort();
        } else {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(tried));
            if (probe.waitForConnected(2000)) {
                QSKIP("something listens on this port here");
            }
        }
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        if (!saved.isEmpty()) {
            folder.Write("Quorlin_Options.ini", QString::fromLatin1(saved).arg(tried).toLatin1());
        }
        AppOptions options = TestOptions(quint16(tried));
        if (!saved.isEmpty() || tls) {
            options.serverPort.reset();
        }
        if (fromDialog) {
            options.serverPort = FreeLoopbackPort();
        }
        if (tls) {
            options.security = SecurityMode::Tls;
        }
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        Shell::Display& display = session.Window();
        if (fromDialog) {
            PlaySettings(display, {[tried](QWidget* dialog) {
                             dialog->findChild<ServerSecurityBox*>()->PortBox()->setValue(tried);
                             ClickLater(OkButton(dialog));
                         }});
        }

        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        const QString told = QStringLiteral("(ポート %1)").arg(tried);
        QTRY_VERIFY2(session.Tray().LastMessage().contains(told),
                     qPrintable(session.Tray().LastMessage()));
        QVERIFY2(ServerLog(display).contains(told), qPrintable(ServerLog(display)));
    }

    // A CA file that cannot be read is refused in the dialog, in Japanese; at start it is told
    // in the window.
    void unreadableCaFileRefused() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        const QString missing = folder.Path("missing-ca.pem");
        DesktopSession session(TestOptions(), true);
        QVERIFY(session.Form_Load());
        QString told;
        const int seen = PlaySettings(
            session.Window(), {[&missing](QWidget* dialog) {
                                   auto* security = dialog->findChild<ServerSecurityBox*>();
                                   security->ModeBox()->setCurrentIndex(
                                       security->ModeBox()->findData(int(SecurityMode::Tls)));
                                   security->CaFileBox()->setText(missing);
                                   ClickLater(OkButton(dialog));
                               },
                               [&told](QWidget* box) {
                                   told = qobject_cast<QMessageBox*>(box)->text();
                                   qobject_cast<QMessageBox*>(box)->accept();
                               }});
        QCOMPARE(seen, 3); // the dialog, the refusal, the dialog again (closed)
        QVERIFY2(told.startsWith(QStringLiteral("CAファイル %1 を読み込めません。").arg(missing)),
                 qPrintable(told));
        QCOMPARE(folder.Read("Quorlin_Options.ini"), QByteArray("<missing>"));

        folder.Write("Quorlin_Options.ini", "[Server]\nSecurity=tls\nCaFile=" + missing.toUtf8());
        DesktopSession restarted(TestOptions(), true);
        told.clear();
        ModalAnswerer answerer([&told](QWidget* box) {
            told = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->accept();
        });
        QVERIFY(restarted.Form_Load());
        QVERIFY2(told.startsWith(QStringLiteral("CAファイル %1 を読み込めません。").arg(missing)),
                 qPrintable(told));
        QVERIFY(ServerLog(restarted.Window()).startsWith(QStringLiteral("※ CAファイル")));
    }

    // The box writes the autostart entry, naming the settings folder, and takes it away again.
    void startAtLoginToggled() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        QTemporaryDir configHome;
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
        const QString entry = configHome.filePath(QStringLiteral("autostart/quorlin.desktop"));
        DesktopSession session(TestOptions(), true);
        QVERIFY(session.Form_Load());
        for (const bool wanted : {true, false}) {
            PlaySettings(session.Window(), {[wanted](QWidget* dialog) {
                             auto* box = In<QCheckBox>(dialog, "StartAtLogin");
                             QCOMPARE(box->isChecked(), !wanted);
                             box->setChecked(wanted);
                             ClickLater(OkButton(dialog));
                         }});
            QCOMPARE(QFile::exists(entry), wanted);
            if (wanted) {
                const QByteArray written = ReadFileBytes(entry);
                QVERIFY2(written.contains(" --config-dir " + folder.Path(QString()).toUtf8()) ||
                             written.contains(" --config-dir \"" + folder.Path(QString()).toUtf8()),
                         written.constData());
                QVERIFY(written.contains(" --autostart\n"));
            }
        }
        qunsetenv("XDG_CONFIG_HOME");
    }

    // Started at login: nothing is asked, the tray says what is missing and the window stays
    // hidden; without a tray the window is the only way in, and the start is as any other.
    void startedAtLogin_data() {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void startedAtLogin() {
        QFETCH(bool, tray);
        ConfigFolder folder;
        AppOptions options = TestOptions();
        options.autostart = true;
        DesktopSession session(options, tray);
        ModalAnswerer answerer([](QWidget* modal) { modal->close(); });
        QVERIFY(session.Form_Load());
        QCOMPARE(answerer.answered, tray ? 0 : 1);
        QCOMPARE(session.Window().isVisible(), !tray);
        QCOMPARE(session.Tray().LastMessage().startsWith(
                     QStringLiteral("メールサーバーが設定されていません。")),
                 tray);
    }

    // Encoded words are looked at in a new settings folder, not in one that had settings; the
    // command line's choice is marked; a change in the dialog is in force at once.
    void taggingOptions_data() {
        QTest::addColumn<bool>("newFolder");
        QTest::addColumn<bool>("commandLine");
        QTest::addColumn<bool>("encodedWords");
        QTest::addColumn<QByteArray>("written"); // the options file after start
        QTest::newRow("new folder")
            << true << false << true << QByteArray("[Tagging]\nEncodedWords=true\n");
        QTest::newRow("folder with settings") << false << false << false << QByteArray("<missing>");
        QTest::newRow("folder with settings, --tag-encoded-words")
            << false << true << true << QByteArray("<missing>");
    }
    void taggingOptions() {
        QFETCH(bool, newFolder);
        QFETCH(bool, commandLine);
        QFETCH(bool, encodedWords);
        QFETCH(QByteArray, written);
        ConfigFolder folder;
        AppOptions options = TestOptions();
        options.server = QStringLiteral("127.0.0.1");
        if (!newFolder) {
            folder.Write("Quorlin_BatList.ini", "GB2312\r\n");
        }
        if (commandLine) {
            options.tagEncodedWords = true;
        }
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        QCOMPARE(session.CurrentSettings().encodedWords, encodedWords);
        QCOMPARE(folder.Read("Quorlin_Options.ini"), written);

        PlaySettings(session.Window(), {[&](QWidget* dialog) {
                         auto* box = In<QCheckBox>(dialog, "EncodedWords");
                         QCOMPARE(box->isChecked(), encodedWords);
                         QCOMPARE(box->text().endsWith(SettingsDialog::CommandLineMark),
                                  commandLine);
                         In<QCheckBox>(dialog, "CharsetHeader")->setChecked(true);
                         ClickLater(OkButton(dialog));
                     }});
        QVERIFY(session.CurrentSettings().charsetHeader);
        QCOMPARE(session.CurrentSettings().encodedWords, encodedWords);
        QVERIFY(folder.Read("Quorlin_Options.ini").contains("CharsetHeader=true\n"));
    }

    // OK puts the files' settings in force at once: a new port is listened on, while the
    // window's own settings (a host typed but not registered, the box for mail without a
    // character set) stay. A file with a value that cannot be used keeps all in force.
    void okPutsTheFilesInForce() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        AppOptions options = TestOptions();
        options.listenPort.reset();
        folder.Write("Quorlin_Options.ini",
                     "[Listen]\nPort=" + QByteArray::number(FreeLoopbackPort()) + "\n");
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        Shell::Display& display = session.Window();
        const quint16 before = session.RelayCore().ListeningPort();
        Control<QLineEdit>(display, "Text1")->setText(QStringLiteral("typed.example.jp"));
        Control<QCheckBox>(display, "Check1")->setChecked(false);

        const quint16 after = FreeLoopbackPort();
        PlaySettings(display, {[after](QWidget* dialog) {
                         In<QSpinBox>(dialog, "ListenPort")->setValue(after);
                         ClickLater(OkButton(dialog));
                     }});
        QCOMPARE(session.RelayCore().ListeningPort(), after);
        QTcpSocket old;
        old.connectToHost(QHostAddress::LocalHost, before);
        QVERIFY(!old.waitForConnected(2000));
        QCOMPARE(session.CurrentSettings().DefaultAccount().host,
                 QStringLiteral("typed.example.jp"));
        QVERIFY(!session.CurrentSettings().tagUnlabelled);

        folder.Write("Quorlin_Options.ini", "[Clients]\nLimit=many\n");
        QString told;
        PlaySettings(display, {[](QWidget* dialog) {
                                   In<QCheckBox>(dialog, "EncodedWords")->setChecked(true);
                                   ClickLater(OkButton(dialog));
                               },
                               [&told](QWidget* box) {
                                   told = qobject_cast<QMessageBox*>(box)->text();
                                   qobject_cast<QMessageBox*>(box)->accept();
                               }});
        QVERIFY2(told.contains(QStringLiteral("Limit=many: 1〜100000 の整数ではありません")),
                 qPrintable(told));
        QVERIFY(!session.CurrentSettings().encodedWords);
        QCOMPARE(session.RelayCore().ListeningPort(), after);
    }
};

QTEST_MAIN(tst_SettingsInForce)
#include "tst_settings_in_force.moc"
