// The window as a desktop user meets it: pictures that are really there, a mail check that
// leaves the keyboard alone, failures told in the window, the settings dialog, logs that follow.
#include "support/FileBytes.h"
#include "support/LoopbackPeers.h"
#include "support/WindowTestSupport.h"

#include "gui/QtTranslation.h"
#include "gui/SettingsDialog.h"
#include "gui/TrayPictureIcons.h"
#include "gui/models/LogListModel.h"
#include "settings/ListenSetting.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QWindow>

namespace {

QImage PictureFile(int number) {
    return QImage(QStringLiteral(QUORLIN_SOURCE_DIR "/src/gui/pictures/Picture%1.xpm").arg(number))
        .convertToFormat(QImage::Format_ARGB32);
}

QImage Pixels(const QIcon& icon) {
    return icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
}

QString Log(Shell::Display& display) {
    QStringList lines;
    for (int row = 0; row < LogModel(display, "List1").rowCount(); ++row) {
        lines << LogModel(display, "List1").data(LogModel(display, "List1").index(row)).toString();
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class tst_DisplayDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The window's icon and every tray picture are the drawn pictures, pixel for pixel.
    void picturesAreTheDrawnOnes_data() {
        QTest::addColumn<int>("picture");
        for (int picture = 1; picture <= TrayPictureCount; ++picture) {
            QTest::addRow("picture %d", picture) << picture;
        }
    }
    void picturesAreTheDrawnOnes() {
        QFETCH(int, picture);
        const QImage drawn = PictureFile(picture);
        QVERIFY(!drawn.isNull());
        QCOMPARE(drawn.size(), QSize(32, 32));
        QCOMPARE(Pixels(TrayPictureIcon(TrayPicture(picture))), drawn);

        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        if (TrayPicture(picture) == TrayPicture::Idle) {
            QCOMPARE(Pixels(display.windowIcon()), drawn);
            QCOMPARE(Pixels(session.Tray().Icon().icon()), drawn);
        }
        display.ShowTrayPicture(TrayPicture(picture));
        QCOMPARE(Pixels(session.Tray().Icon().icon()), drawn);
    }

    // A mail check brings the window up, out of the minimised state too, asking the window
    // system not to give it the keyboard; the tray brings it back with the keyboard. (This
    // platform gives every shown window the keyboard; desktop_check.py sees the real thing.)
    void mailCheckLeavesTheKeyboardTrayTakesIt() {
        ConfigFolder folder;
        ScriptedServer server;
        server.greeting = "+OK ready <1.2@x>\r\n";
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        DesktopSession session(TestOptions(server.Port()), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        display.showMinimized();

        QLineEdit typing;
        typing.show();
        typing.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&typing));

        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_COMPARE(client.received, server.greeting);
        QVERIFY(display.isVisible());
        QVERIFY(!display.isMinimized());
        QVERIFY(display.windowHandle()->property("_q_showWithoutActivating").toBool());

        display.showMinimized();
        Q_EMIT session.Tray().Icon().activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!display.isMinimized());
        QVERIFY(display.isVisible());
        QVERIFY(!display.windowHandle()->property("_q_showWithoutActivating").toBool());
        QTRY_COMPARE(QApplication::activeWindow(), &display);

        typing.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&typing));
        display.showMinimized();
        Control<QAction>(display, "FShow")->trigger();
        QVERIFY(!display.isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), &display);
    }

    // A mail server out of reach is told in the server log and by the tray, in Japanese.
    void serverFailureIsToldInTheWindow_data() {
        QTest::addColumn<QByteArray>("savedHost");
        QTest::addColumn<QString>("told");
        QTest::newRow("server down")
            << QByteArray("127.0.0.1\r\n") << QStringLiteral("接続できませんでした");
        QTest::newRow("no server set")
            << QByteArray("\r\n") << QStringLiteral("メールサーバーが設定されていません");
    }
    void serverFailureIsToldInTheWindow() {
        QFETCH(QByteArray, savedHost);
        QFETCH(QString, told);
        ConfigFolder folder;
        folder.Write("Quorlin.ini", savedHost);
        DesktopSession session(TestOptions(FreeLoopbackPort()), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());

        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_VERIFY2(session.Tray().LastMessage().contains(told),
                     qPrintable(session.Tray().LastMessage()));
        QVERIFY2(Log(display).contains(told), qPrintable(Log(display)));
        QTRY_VERIFY(!client.Connected());
    }

    // Cancel at the first-run question: no file, and the window stays up saying where the
    // server goes.
    void cancelAtFirstRunSaysWhereToSetTheServer() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        ModalAnswerer answerer([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        QVERIFY(session.Form_Load());
        QCOMPARE(answerer.answered, 1);
        QCOMPARE(folder.Read("Quorlin.ini"), QByteArray("<missing>"));
        QVERIFY(display.isVisible());
        QVERIFY2(Log(display).contains(QStringLiteral("「サーバー名」")), qPrintable(Log(display)));
    }

    // The settings dialog, from the window's button, saves the listen setting; from the tray
    // and the window's context menu it opens with the values in force.
    void settingsDialogKeepsTheListenSetting() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        QVERIFY(display.actions().contains(Control<QAction>(display, "FSettings")));

        {
            ModalSteps save({[](QWidget* dialog) {
                dialog->findChild<QSpinBox*>(QStringLiteral("ListenPort"))->setValue(1110);
                dialog->findChild<QLineEdit*>(QStringLiteral("ListenAddress"))
                    ->setText(QStringLiteral("127.0.0.1"));
                ClickLater(OkButton(dialog));
            }});
            Control<QPushButton>(display, "Command3")->click();
            QCOMPARE(save.seen, 1);
        }
        // The address, this run's from the command line and left as it was, is not saved.
        const QByteArray saved = folder.Read("Quorlin_Options.ini");
        QCOMPARE(saved, QByteArray("[Listen]\nPort=1110\n"));

        int shownPort = 0;
        ModalSteps reopen({[&shownPort](QWidget* dialog) {
            shownPort = dialog->findChild<QSpinBox*>(QStringLiteral("ListenPort"))->value();
            QMetaObject::invokeMethod(dialog, &QWidget::close, Qt::QueuedConnection);
        }});
        Control<QAction>(display, "FSettings")->trigger();
        QCOMPARE(shownPort, 1110);
    }

    // A settings file that cannot be written is told in the window: the dialog stays for
    // another try; the server box's 登録 says so too.
    void settingsWriteFailureIsTold() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        SetSettingsDirectory(UnwritableFolder(folder.Path(QString())));
        QString told;
        {
            ModalSteps steps(
                {[](QWidget* dialog) {
                     dialog->findChild<QSpinBox*>(QStringLiteral("ListenPort"))->setValue(1110);
                     ClickLater(OkButton(dialog));
                 },
                 [&told](QWidget* box) {
                     told = qobject_cast<QMessageBox*>(box)->text();
                     qobject_cast<QMessageBox*>(box)->accept();
                 }});
            QVERIFY(!display.OpenSettings());
            QCOMPARE(steps.seen, 3); // the dialog, the message, the dialog again (closed)
            QVERIFY2(told.contains(QStringLiteral("書き込めませんでした")), qPrintable(told));
        }

        told.clear();
        ModalAnswerer answerer([&told](QWidget* box) {
            told = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->accept();
        });
        Control<QLineEdit>(display, "Text1")->setText(QStringLiteral("pop.example.jp"));
        Control<QPushButton>(display, "Command2")->click();
        QVERIFY2(told.contains(QStringLiteral("Quorlin.ini")), qPrintable(told));
    }

    // A port that cannot be listened on: the message offers the settings, and a new port
    // chosen there is the one the next start uses.
    void listenFailureLeadsToTheSettings() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        AppOptions options = TestOptions();
        options.listenPort = occupant.serverPort();
        DesktopSession session(options, true);
        const quint16 freePort = FreeLoopbackPort();
        ModalSteps steps(
            {[](QWidget* box) {
                 for (QAbstractButton* button : qobject_cast<QMessageBox*>(box)->buttons()) {
                     if (button->text() == SettingsDialog::Title) {
                         ClickLater(button);
                     }
                 }
             },
             [freePort](QWidget* dialog) {
                 dialog->findChild<QSpinBox*>(QStringLiteral("ListenPort"))->setValue(freePort);
                 ClickLater(OkButton(dialog));
             }});
        QVERIFY(!session.Form_Load());
        QVERIFY(session.RetryWanted());
        QCOMPARE(LoadListenSetting().port, freePort);
    }

    // The logs follow the newest line, unless the user has scrolled back to read.
    void logsFollowTheNewestLine() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        display.show();
        QByteArray block;
        for (int i = 0; i < 300; ++i) {
            block += "+OK line " + QByteArray::number(i) + "\r\n";
        }
        display.AddServerLines(block);
        auto* list1 = Control<QListView>(display, "List1");
        const QModelIndex last = LogModel(display, "List1").index(299);
        QTRY_VERIFY(list1->viewport()->rect().contains(list1->visualRect(last)));

        list1->verticalScrollBar()->setValue(0);
        display.AddServerLines("+OK later\r\n");
        QCOMPARE(list1->verticalScrollBar()->value(), 0);
    }

    // A note of Quorlin's own is broken into lines that fit the server log, none of them
    // starting with a comma or a stop, and nothing of it is lost.
    void notesFitTheLog_data() {
        QTest::addColumn<QString>("note");
        QTest::newRow("no server") << QStringLiteral(
            "メールサーバーが設定されていません。\n"
            "「サーバー名」の欄にメールサーバーを入力して「登録」を押してください。");
        QTest::newRow("refused certificate") << QStringLiteral(
            "メールサーバー pop.example.jp:995 との暗号化接続を中止しました。\n"
            "理由: 証明書が別のホスト名のものです。証明書が自己署名で、信頼されていません。");
        QTest::newRow("stop at the edge")
            << QStringLiteral("理由: 証明書の有効期間がまだ始まっていません。");
        QTest::newRow("long word") << QStringLiteral(
            "メールサーバー mail.very-long-subdomain.of-a-provider.example.co.jp に接続できま"
            "せんでした。");
    }
    void notesFitTheLog() {
        QFETCH(QString, note);
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        display.LogNote(note);
        auto* list1 = Control<QListView>(display, "List1");
        const QFontMetrics metrics(list1->font());
        QString joined;
        for (int row = 0; row < LogModel(display, "List1").rowCount(); ++row) {
            const QString line =
                LogModel(display, "List1").data(LogModel(display, "List1").index(row)).toString();
            QVERIFY2(metrics.horizontalAdvance(line) <=
                         list1->viewport()->width() -
                             list1->verticalScrollBar()->sizeHint().width(),
                     qPrintable(line));
            QVERIFY2(!line.mid(2).startsWith(u'。') && !line.mid(2).startsWith(u'、'),
                     qPrintable(line));
            joined += line.startsWith(QStringLiteral("　 ")) ? line.mid(2)
                                                             : QStringLiteral("\n") + line.mid(2);
        }
        QCOMPARE(joined.mid(1), note);
    }

    void qtDialogsSpeakJapanese() {
        QVERIFY(LoadQtJapanese());
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    }
};

QTEST_MAIN(tst_DisplayDesktop)
#include "tst_display_desktop.moc"
