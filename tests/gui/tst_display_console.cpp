#include "support/LoopbackPeers.h"
#include "support/WindowTestSupport.h"

#include "gui/models/LogListModel.h"

#include <QAction>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

// The window with a mail server and a mail client on loopback, both connected through it.
struct Session {
    ConfigFolder folder;
    ScriptedServer server;
    TestClient client;
    std::unique_ptr<DesktopSession> desktop;
    Shell::Display* display = nullptr;

    explicit Session(const QByteArray& blockedList = "ISO-2022-KR\r\nbig5\r\n") {
        server.greeting = "+OK ready <1.2@pop>\r\n";
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        folder.Write("Quorlin_BatList.ini", blockedList);
        desktop = std::make_unique<DesktopSession>(TestOptions(server.Port()), true);
        display = &desktop->Window();
        desktop->Form_Load();
    }
    void ConnectClient() {
        client.ConnectTo(desktop->RelayCore().ListeningPort());
        QTRY_COMPARE(client.received, server.greeting);
    }
    QLineEdit* Text2(int i) { return Control<QLineEdit>(*display, i == 0 ? "Text2_0" : "Text2_1"); }
    void Activate() {
        display->ShowWindow();
        display->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(display));
    }
};

class tst_DisplayConsole : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The window comes up for a client, logs both sides, and goes when the server has closed
    // and the client has been let go.
    void clientShowsAndHidesTheWindow() {
        Session session;
        QVERIFY(!session.display->isVisible());
        session.ConnectClient();
        QVERIFY(session.display->isVisible());
        QTRY_COMPARE(LogModel(*session.display, "List1").rowCount(), 1);
        QCOMPARE(
            LogModel(*session.display, "List1").data(LogModel(*session.display, "List1").index(0)),
            QVariant(QStringLiteral("+OK ready <1.2@pop>")));
        session.client.Send("NOOP\r\n");
        QTRY_COMPARE(session.server.received, QByteArray("NOOP\r\n"));
        QCOMPARE(LogModel(*session.display, "List2").rowCount(), 1);
        QCOMPARE(session.desktop->Tray().CurrentPicture(), TrayPicture::ClientData);

        session.server.CloseConnection();
        QTRY_VERIFY(ServerClosed(session.desktop->RelayCore()));
        // The client is let go with the server, and the window with the last client.
        QTRY_VERIFY(!session.client.Connected());
        QTRY_VERIFY(!session.display->isVisible());
        QCOMPARE(session.desktop->Tray().CurrentPicture(), TrayPicture::Idle);

        // A huge reply cannot grow the log without bound: the oldest lines make room.
        QByteArray lines;
        for (int i = 0; i <= 100000; ++i) {
            lines.append(QByteArray::number(i)).append("\r\n");
        }
        session.display->AddServerLines(lines);
        QCOMPARE(LogModel(*session.display, "List1").rowCount(), 100000);
        QCOMPARE(LogModel(*session.display, "List1").Line(0), QByteArray("1"));
    }

    // When the checks are over only a window they brought up goes; one the user opened (before
    // or during the check) stays.
    void checkHidesOnlyTheWindowItShowed_data() {
        QTest::addColumn<QString>("opened"); // by the user, and when
        QTest::addColumn<bool>("staysUp");
        QTest::newRow("by the check") << "" << false;
        QTest::newRow("表示 before") << "menu before" << true;
        QTest::newRow("double-click before") << "double-click before" << true;
        QTest::newRow("表示 during") << "menu during" << true;
    }
    void checkHidesOnlyTheWindowItShowed() {
        QFETCH(QString, opened);
        QFETCH(bool, staysUp);
        Session session;
        const auto open = [&] {
            if (opened.startsWith(QStringLiteral("menu"))) {
                Control<QAction>(*session.display, "FShow")->trigger();
            } else {
                Q_EMIT session.desktop->Tray().Icon().activated(QSystemTrayIcon::DoubleClick);
            }
        };
        if (opened.endsWith(QStringLiteral("before"))) {
            open();
        }
        session.ConnectClient();
        if (opened.endsWith(QStringLiteral("during"))) {
            open();
        }
        session.client.socket.disconnectFromHost();
        QTRY_COMPARE(session.desktop->Tray().CurrentPicture(), TrayPicture::Idle);
        QCOMPARE(session.display->isVisible(), staysUp);
    }

    void consoleSendsWithEnterAndWithTheButton() {
        Session session;
        session.ConnectClient();
        QTRY_VERIFY(session.server.Connected());
        session.Activate();

        // The caption is a hint that leaves while the user is in the box.
        QCOMPARE(session.Text2(0)->placeholderText(), QStringLiteral("メールサーバーへのコマンド"));
        QTest::mouseClick(session.Text2(0), Qt::LeftButton);
        QCOMPARE(session.Text2(0)->placeholderText(), QString());
        QTest::keyClicks(session.Text2(0), QStringLiteral("PASS "));
        session.Text2(0)->insert(QStringLiteral("日"));
        QTest::keyClick(session.Text2(0), Qt::Key_Return);
        QTRY_COMPARE(session.server.received, QByteArray("PASS \x93\xfa\r\n"));
        QCOMPARE(session.Text2(0)->text(), QString());
        // Sent as typed: not logged, no login rewriting.
        QCOMPARE(LogModel(*session.display, "List2").rowCount(), 0);

        session.Text2(1)->setText(QStringLiteral("+OK hello"));
        QTest::mouseClick(Control<QPushButton>(*session.display, "Command1_1"), Qt::LeftButton);
        QTRY_COMPARE(session.client.received, session.server.greeting + "+OK hello\r\n");
        QCOMPARE(session.Text2(1)->text(), QString());
        QCOMPARE(session.Text2(1)->placeholderText(), QStringLiteral("メーラーへのコマンド"));
    }

    // A box left empty (its caption showing as a hint) sends nothing: the line typed next is
    // the first to arrive.
    void emptyBoxSendsNothing_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("withEnter");
        QTest::newRow("server, Enter") << 0 << true;
        QTest::newRow("server, button") << 0 << false;
        QTest::newRow("client, Enter") << 1 << true;
        QTest::newRow("client, button") << 1 << false;
    }
    void emptyBoxSendsNothing() {
        QFETCH(int, row);
        QFETCH(bool, withEnter);
        Session session;
        session.ConnectClient();
        QTRY_VERIFY(session.server.Connected());
        session.Activate();
        const auto press = [&] {
            if (withEnter) {
                QTest::keyClick(session.Text2(row), Qt::Key_Return);
            } else {
                QTest::mouseClick(
                    Control<QPushButton>(*session.display, row == 0 ? "Command1_0" : "Command1_1"),
                    Qt::LeftButton);
            }
        };
        session.Text2(row)->setFocus(Qt::TabFocusReason);
        press();
        session.Text2(row)->setText(QStringLiteral("NOOP"));
        press();
        const QByteArray& arrived = row == 0 ? session.server.received : session.client.received;
        const QByteArray before = row == 0 ? QByteArray() : session.server.greeting;
        QTRY_COMPARE(arrived, before + "NOOP\r\n");
    }

    // Row 1 without a client: a message, nothing sent, the line stays until the box is visited
    // again (closing the message is no visit).
    void refusedSendsKeepTheLine() {
        Session session;
        session.Activate();
        session.Text2(1)->setFocus(Qt::TabFocusReason);
        session.Text2(1)->setText(QStringLiteral("+OK late"));
        QString message;
        ModalAnswerer answerer([&](QWidget* modal) {
            message = qobject_cast<QMessageBox*>(modal)->text();
            qobject_cast<QMessageBox*>(modal)->accept();
        });
        QTest::keyClick(session.Text2(1), Qt::Key_Return);
        QCOMPARE(message, QStringLiteral("メーラーからの接続は解除されています。"));
        // The window getting active again hands the focus back to the box: no visit.
        session.Activate();
        QCOMPARE(QApplication::focusWidget(), session.Text2(1));
        QCOMPARE(session.Text2(1)->text(), QStringLiteral("+OK late"));
        session.Text2(0)->setFocus(Qt::TabFocusReason);
        session.Text2(1)->setFocus(Qt::BacktabFocusReason);
        QCOMPARE(session.Text2(1)->text(), QString());

        // Row 0 without a server: the logs go, a connection starts, the line waits.
        session.display->AddServerLines("old\r\n");
        session.Text2(0)->setText(QStringLiteral("STAT"));
        QTest::keyClick(session.Text2(0), Qt::Key_Return);
        QCOMPARE(LogModel(*session.display, "List1").rowCount(), 0);
        QCOMPARE(session.Text2(0)->text(), QStringLiteral("STAT"));
        QTRY_COMPARE(session.server.connections, 1);
        QCOMPARE(session.server.received, QByteArray());
    }

    // With a second client the log lines carry client numbers and the console's frame names
    // the client it talks to: the most recent one.
    void secondClientIsNumberedAndNamedByTheConsole() {
        Session session;
        session.ConnectClient();
        TestClient second;
        second.ConnectTo(session.desktop->RelayCore().ListeningPort());
        QTRY_VERIFY(second.received.endsWith(">\r\n"));
        auto* frame = Control<QGroupBox>(*session.display, "Frame1");
        QCOMPARE(frame->title(), QStringLiteral("任意コマンド [2]"));
        LogListModel& list1 = LogModel(*session.display, "List1");
        QCOMPARE(list1.data(list1.index(list1.rowCount() - 1)),
                 QVariant(QStringLiteral("[2] +OK ready <1.2@pop>")));
        session.Text2(1)->setText(QStringLiteral("+OK to the second"));
        QTest::mouseClick(Control<QPushButton>(*session.display, "Command1_1"), Qt::LeftButton);
        QTRY_VERIFY(second.received.endsWith("+OK to the second\r\n"));
        QVERIFY(!session.client.received.contains("second"));

        second.socket.disconnectFromHost();
        QTRY_COMPARE(frame->title(), QStringLiteral("任意コマンド"));
        QVERIFY(session.display->isVisible());
    }

    void serverBoxSavesOnEnterAndButton() {
        Session session;
        auto* text1 = Control<QLineEdit>(*session.display, "Text1");
        text1->setText(QStringLiteral(" mail.example.jp "));
        QTest::keyClick(text1, Qt::Key_A);
        QCOMPARE(session.folder.Read("Quorlin.ini"), QByteArray("127.0.0.1\r\n"));
        QTest::keyClick(text1, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(session.folder.Read("Quorlin.ini"), QByteArray(" mail.example.jp a\r\n"));
        QTest::keyClick(text1, Qt::Key_Return);
        QCOMPARE(session.folder.Read("Quorlin.ini"), QByteArray(" mail.example.jp a\r\n"));

        text1->setText(QStringLiteral("pop.example.jp"));
        QTest::mouseClick(Control<QPushButton>(*session.display, "Command2"), Qt::LeftButton);
        QCOMPARE(session.folder.Read("Quorlin.ini"), QByteArray("pop.example.jp\r\n"));
    }

    // An entry is added without the spaces typed around it (they would keep it from ever
    // matching); what the file already holds stays as it is.
    void blockedEntryTrimmedWhenAdded_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("spaces around") << "  gb2312 " << QByteArray(" big5 \r\ngb2312\r\n");
        QTest::newRow("tab before") << "\tKOI8-R" << QByteArray(" big5 \r\nKOI8-R\r\n");
        QTest::newRow("only spaces") << "   " << QByteArray(" big5 \r\n");
    }
    void blockedEntryTrimmedWhenAdded() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, saved);
        Session session(" big5 \r\n");
        ModalAnswerer answerer([&](QWidget* modal) {
            qobject_cast<QInputDialog*>(modal)->setTextValue(typed);
            qobject_cast<QInputDialog*>(modal)->accept();
        });
        QTest::keyClick(Control<QListWidget>(*session.display, "List3"), Qt::Key_Insert);
        QCOMPARE(answerer.answered, 1);
        QCOMPARE(session.folder.Read("Quorlin_BatList.ini"), saved);
    }

    // A blank server box is not saved, from the button or with Enter, and the user is told.
    void blankHostRefused_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("withEnter");
        QTest::newRow("empty, 登録") << "" << false;
        QTest::newRow("spaces, Enter") << "   " << true;
    }
    void blankHostRefused() {
        QFETCH(QString, host);
        QFETCH(bool, withEnter);
        Session session;
        auto* text1 = Control<QLineEdit>(*session.display, "Text1");
        text1->setText(host);
        QString told;
        ModalAnswerer answerer([&](QWidget* modal) {
            told = qobject_cast<QMessageBox*>(modal)->text();
            qobject_cast<QMessageBox*>(modal)->accept();
        });
        if (withEnter) {
            QTest::keyClick(text1, Qt::Key_Return);
        } else {
            QTest::mouseClick(Control<QPushButton>(*session.display, "Command2"), Qt::LeftButton);
        }
        QVERIFY2(told.contains(QStringLiteral("サーバー名が空")), qPrintable(told));
        QCOMPARE(session.folder.Read("Quorlin.ini"), QByteArray("127.0.0.1\r\n"));
    }

    void insertAndDeleteEditTheBlockedList() {
        Session session;
        auto* list3 = Control<QListWidget>(*session.display, "List3");
        QString title;
        ModalAnswerer answerer([&](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            title = dialog->windowTitle() + "|" + dialog->labelText();
            dialog->setTextValue(QStringLiteral("GB2312"));
            dialog->accept();
        });
        QTest::keyClick(list3, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(title, QStringLiteral("Quorlin|受け取りたくない文字セットを入力してください。"));
        QCOMPARE(session.folder.Read("Quorlin_BatList.ini"),
                 QByteArray("ISO-2022-KR\r\nbig5\r\nGB2312\r\n"));

        list3->setCurrentRow(1);
        QTest::keyClick(list3, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(session.display->List3Items(), QStringList({"ISO-2022-KR", "GB2312"}));
        QCOMPARE(session.folder.Read("Quorlin_BatList.ini"),
                 QByteArray("ISO-2022-KR\r\nGB2312\r\n"));

        // Nothing selected: the list stays, and the file is written again from it.
        list3->clearSelection();
        session.folder.Write("Quorlin_BatList.ini", "edited by hand\r\n");
        QTest::keyClick(list3, Qt::Key_Delete);
        QCOMPARE(session.display->List3Items(), QStringList({"ISO-2022-KR", "GB2312"}));
        QCOMPARE(session.folder.Read("Quorlin_BatList.ini"),
                 QByteArray("ISO-2022-KR\r\nGB2312\r\n"));
    }
};

QTEST_MAIN(tst_DisplayConsole)
#include "tst_display_console.moc"
