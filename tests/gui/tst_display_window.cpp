#include "support/LoopbackPeers.h"
#include "support/WindowTestSupport.h"

#include "gui/TrayIcon.h"
#include "gui/TrayPictureIcons.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

namespace {

// What a control shows: a caption, a box's text (or its hint while empty), a frame's title.
QString ShownText(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return button->text();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        return frame->title();
    }
    return QString();
}

} // namespace

class tst_DisplayWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controlTable_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        const QString server = QStringLiteral("APOPで接続するサーバーを入力してください。");
        const auto row = [](const char* name, const char* kind, QRect geometry, QString text,
                            QString toolTip = QString()) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                                << geometry << text << toolTip;
        };
        row("Label1", "QLabel", {4, 4, 73, 17}, QStringLiteral("サーバー名"), server);
        row("Text1", "QLineEdit", {80, 0, 141, 25}, QString(), server);
        row("Command2", "QPushButton", {220, 0, 33, 25}, QStringLiteral("登録"));
        row("List1", "QListView", {4, 28, 305, 76}, QString());
        row("List2", "QListView", {4, 108, 305, 76}, QString());
        row("Frame1", "QGroupBox", {4, 188, 257, 85}, QStringLiteral("任意コマンド"));
        row("Text2_0", "QLineEdit", {12, 20, 165, 25},
            QStringLiteral("メールサーバーへのコマンド"));
        row("Command1_0", "QPushButton", {180, 20, 69, 25}, QStringLiteral("送信"));
        row("Text2_1", "QLineEdit", {12, 48, 165, 25}, QStringLiteral("メーラーへのコマンド"));
        row("Command1_1", "QPushButton", {180, 48, 69, 25}, QStringLiteral("送信"));
        row("Label2", "QLabel", {4, 280, 305, 17},
            QStringLiteral("受け取りたくない文字コードリスト"));
        row("List3", "QListWidget", {4, 300, 305, 52}, QString(),
            QStringLiteral("[Ins]で登録[Del]で削除できます。"));
        row("Check1", "QCheckBox", {4, 356, 305, 17},
            QStringLiteral("CharSetが無いメールは無条件で引っ掛ける"));
    }

    void controlTable() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();

        auto* control = display.findChild<QWidget*>(name);
        QVERIFY(control);
        QVERIFY(control->inherits(kind.toLatin1()));
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(ShownText(control), text);
        QCOMPARE(control->toolTip(), toolTip);
        // Console controls sit in the frame; everything else directly on the window.
        const bool inFrame =
            name.startsWith(QStringLiteral("Text2")) || name.startsWith(QStringLiteral("Command1"));
        QCOMPARE(control->parentWidget()->objectName(),
                 inFrame ? QStringLiteral("Frame1") : QStringLiteral("Display"));
    }

    void windowAndStateAtStart() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QCOMPARE(display.size(), QSize(314, 380));
        QCOMPARE(display.minimumSize(), display.maximumSize());
        QCOMPARE(display.windowTitle(), QStringLiteral("Quorlin"));
        QVERIFY(display.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(display.windowFlags() & Qt::WindowMinMaxButtonsHint));
        QCOMPARE(display.Check1Value(), 1);
        QVERIFY(session.CurrentSettings().tagUnlabelled);
        // Only a tick counts: the grey state does not tag mail without a character set.
        auto* check1 = Control<QCheckBox>(display, "Check1");
        check1->setCheckState(Qt::PartiallyChecked);
        QVERIFY(!session.CurrentSettings().tagUnlabelled);
        check1->setCheckState(Qt::Checked);
        QVERIFY(session.CurrentSettings().tagUnlabelled);
        // Unsorted: entries keep the order they came in.
        session.CurrentSettings().blockedCharsets = {QStringLiteral("big5"), QStringLiteral("ABC")};
        display.ShowSettings();
        QCOMPARE(display.List3Items(), QStringList({"big5", "ABC"}));

        QStringList menu{display.SysTray().title()};
        for (const QAction* item : display.SysTray().actions()) {
            menu << item->objectName() + ":" + item->text();
        }
        QCOMPARE(menu, QStringList({"SysTray", "FShow:表示", "FSettings:設定", "FEnd:終了"}));
    }

    void tabOrderFollowsTheLayout() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QWidget* start = Control<QWidget>(display, "List1");
        QStringList order;
        QWidget* current = start;
        do {
            if ((current->focusPolicy() & Qt::TabFocus) && current->window() == &display &&
                current != &display) {
                order.append(current->objectName());
            }
            current = current->nextInFocusChain();
        } while (current != start && order.size() < 50);
        // Only what can take the focus: labels and the frame are skipped.
        QCOMPARE(order, QStringList({"List1", "List2", "Text1", "Text2_0", "Command1_0", "Text2_1",
                                     "Command1_1", "Command2", "List3", "Check1", "Command3"}));
    }

    // The first-run question comes before the window is placed, shown or captioned and before
    // anything listens; its answer ends up in the box and in the file.
    void firstRunPromptComesFirst() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        bool visible = true;
        bool moved = true;
        bool listening = true;
        QString title;
        QString prompt;
        ModalAnswerer answerer([&](QWidget* modal) {
            visible = display.isVisible();
            moved = display.testAttribute(Qt::WA_Moved);
            listening = session.RelayCore().Listening();
            title = display.windowTitle();
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            QVERIFY(dialog);
            prompt = dialog->windowTitle() + "|" + dialog->labelText();
            dialog->setTextValue(QStringLiteral(" pop.example.jp "));
            dialog->accept();
        });
        QVERIFY(session.Form_Load());
        QCOMPARE(answerer.answered, 1);
        QCOMPARE(
            prompt,
            QStringLiteral("初期設定|初めてですね！\n転送先のメールサーバーを入力してください。"));
        QVERIFY(!visible);
        QVERIFY(!moved);
        QVERIFY(!listening);
        QCOMPARE(title, QStringLiteral("Quorlin"));

        QCOMPARE(display.Text1(), QStringLiteral(" pop.example.jp "));
        QCOMPARE(folder.Read("Quorlin.ini"), QByteArray(" pop.example.jp \r\n"));
        QCOMPARE(display.windowTitle(), QStringLiteral("Quorlin  Ver.1.2.17"));
        QVERIFY(display.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!display.isVisible());
        QVERIFY(session.RelayCore().Listening());
        QVERIFY(session.Tray().Added());
        QVERIFY(session.Tray().Icon().isVisible());
        QCOMPARE(session.Tray().CurrentPicture(), TrayPicture::Idle);
        QCOMPARE(session.Tray().Icon().toolTip(), QStringLiteral("Ready"));
        QCOMPARE(session.Tray().Icon().contextMenu(), &display.SysTray());

        // Showing and hiding leave the caption and the position alone.
        display.ShowWindow();
        const QPoint placed = display.pos();
        display.HideWindow();
        display.ShowWindow();
        QCOMPARE(display.windowTitle(), QStringLiteral("Quorlin  Ver.1.2.17"));
        QCOMPARE(display.pos(), placed);
    }

    void startUpPlacesTheWindowBottomRight() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        folder.Write("Quorlin_BatList.ini", "ISO-2022-KR\r\nbig5\r\n");
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        QCOMPARE(display.Text1(), QStringLiteral("pop.example.jp"));
        QCOMPARE(display.List3Items(), QStringList({"ISO-2022-KR", "big5"}));
        const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(display.frameGeometry().bottomRight(), workArea.bottomRight());
        // Shown, the window has its frame (on this platform too), which still ends there.
        display.ShowWindow();
        QVERIFY(display.frameGeometry() != display.geometry());
        QCOMPARE(display.frameGeometry().bottomRight(), workArea.bottomRight());
    }

    void listenFailureIsReportedAndStopsStartUp() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        AppOptions options = TestOptions();
        options.listenPort = occupant.serverPort();
        DesktopSession session(options, true);
        QString message;
        ModalAnswerer answerer([&](QWidget* modal) {
            message = qobject_cast<QMessageBox*>(modal)->text();
            qobject_cast<QMessageBox*>(modal)->accept();
        });
        QVERIFY(!session.Form_Load());
        QVERIFY2(message.contains(QString::number(occupant.serverPort())), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("待ち受けられません")), qPrintable(message));
        QVERIFY(!session.Tray().Added());
        QVERIFY(!session.RetryWanted());
    }

    // An unknown way to the mail server stops the start before anything is relayed in plain.
    void unknownSavedSecurityStopsStartUp() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        folder.Write("Quorlin_Options.ini", "[Server]\r\nPort=995\r\nSecurity=SSL\r\n");
        DesktopSession session(TestOptions(), true);
        QString message;
        ModalAnswerer answerer([&](QWidget* modal) {
            message = qobject_cast<QMessageBox*>(modal)->text();
            qobject_cast<QMessageBox*>(modal)->reject();
        });
        QVERIFY(!session.Form_Load());
        QVERIFY2(message.contains(folder.Path("Quorlin_Options.ini") +
                                  QStringLiteral(" の 3 行目:\nSecurity=SSL\n")),
                 qPrintable(message));
        QVERIFY2(
            message.contains(QStringLiteral("none, tls, starttls、または設定画面の なし（APOP）, "
                                            "SSL/TLS, STARTTLS（STLS）")),
            qPrintable(message));
        QCOMPARE(session.FailureStatus(), 2);
        QVERIFY(!session.RetryWanted());
        QVERIFY(!session.RelayCore().Listening());
        QVERIFY(!session.Tray().Added());
    }

    // Closing hides and shows the idle picture; the menu and a double-click bring the window
    // back; a single click only beeps.
    void closeAndTheTrayBringItBack() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        display.ShowWindow();
        display.ShowTrayPicture(TrayPicture::ServerData);
        QVERIFY(!display.close());
        QVERIFY(!display.isVisible());
        QCOMPARE(session.Tray().CurrentPicture(), TrayPicture::Idle);
        QVERIFY(session.RelayCore().Listening());

        Q_EMIT session.Tray().Icon().activated(QSystemTrayIcon::Trigger);
        QVERIFY(!display.isVisible());
        Q_EMIT session.Tray().Icon().activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(display.isVisible());
        QCOMPARE(session.Tray().CurrentPicture(), TrayPicture::Idle);

        display.close();
        display.SysTray().actions()[0]->trigger(); // 表示
        QVERIFY(display.isVisible());
        QCOMPARE(session.Tray().CurrentPicture(), TrayPicture::OpenedFromMenu);
        QCOMPARE(session.Tray().Icon().icon().pixmap(32).toImage(),
                 TrayPictureIcon(TrayPicture::OpenedFromMenu).pixmap(32).toImage());
    }

    // 終了 ends at once: both connections closed without a word, icon gone.
    void quitClosesEverything() {
        ConfigFolder folder;
        ScriptedServer server;
        server.greeting = "+OK ready <1.2@x>\r\n";
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        DesktopSession session(TestOptions(server.Port()), true);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_COMPARE(client.received, QByteArray("+OK ready <1.2@x>\r\n"));

        QSignalSpy ended(&session, &DesktopSession::ProgramEnded);
        Control<QAction>(display, "FEnd")->trigger(); // 終了
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
        QVERIFY(!session.Tray().Added());
        QVERIFY(!session.Tray().Icon().isVisible());
        QCOMPARE(session.RelayCore().SessionCount(), 0);
        QVERIFY(!session.RelayCore().Listening());
        QTRY_VERIFY(server.peerClosed);
        QTRY_VERIFY(!client.Connected());
        QCOMPARE(client.received, QByteArray("+OK ready <1.2@x>\r\n"));
        QCOMPARE(server.received, QByteArray());
    }

    // Without a system tray a hidden window could never come back: it stays on screen, and
    // its close box ends the program.
    void withoutTrayTheWindowStays() {
        ConfigFolder folder;
        ScriptedServer server;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        DesktopSession session(TestOptions(server.Port()), false);
        Shell::Display& display = session.Window();
        QVERIFY(session.Form_Load());
        QVERIFY(display.isVisible());

        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_VERIFY(server.Connected());
        server.CloseConnection();
        QTRY_VERIFY(ServerClosed(session.RelayCore()));
        client.socket.disconnectFromHost();
        QTRY_VERIFY(RelayIdle(session.RelayCore()));
        QVERIFY(display.isVisible());

        QSignalSpy ended(&session, &DesktopSession::ProgramEnded);
        display.close();
        QCOMPARE(ended.size(), 1);
        QVERIFY(!session.RelayCore().Listening());
    }
};

QTEST_MAIN(tst_DisplayWindow)
#include "tst_display_window.moc"
