// The settings dialog's accounts: what a person wrote into the options file shows in the table,
// and an account added in the dialog lands in the file as a section a person can read, and in
// the settings in force.
#include "gui/AccountsBox.h"
#include "support/WindowTestSupport.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

class tst_AccountsDialog : public QObject {
    Q_OBJECT

    static QStringList Row(const QTableWidget& table, int row) {
        QStringList cells;
        for (int column = 0; column < table.columnCount(); ++column) {
            cells.append(table.item(row, column)->text());
        }
        return cells;
    }

private Q_SLOTS:
    void handEditedShownAddedSaved() {
        ConfigFolder folder;
        folder.Write(QStringLiteral("Quorlin.ini"), "pop.example.com\r\n");
        folder.Write(QStringLiteral("Quorlin_Options.ini"),
                     "[Account1]\nLogin=alice\nHost=pop.example.jp\nServerUser=alice.smith\n");
        DesktopSession session(TestOptions(), true);
        QVERIFY(session.Form_Load());
        QStringList shown;
        QString problem;
        ModalAnswerer answerer([&](QWidget* modal) {
            auto* table = modal->findChild<QTableWidget*>(QStringLiteral("Accounts"));
            shown = Row(*table, 0);
            modal->findChild<QPushButton*>(QStringLiteral("AddAccount"))->click();
            AccountEditDialog* editor = modal->findChild<AccountsBox*>()->OpenEditor();
            editor->findChild<QLineEdit*>(QStringLiteral("AccountLogin"))->setText("alice");
            editor->findChild<QLineEdit*>(QStringLiteral("AccountHost"))
                ->setText("mail.example.net");
            editor->accept(); // refused: alice is taken
            problem = editor->findChild<QLabel*>(QStringLiteral("AccountProblem"))->text();
            editor->findChild<QLineEdit*>(QStringLiteral("AccountLogin"))
                ->setText("bob@example.test");
            auto* mode = editor->findChild<QComboBox*>(QStringLiteral("AccountSecurity"));
            mode->setCurrentIndex(mode->findText(QStringLiteral("SSL/TLS")));
            editor->findChild<QLineEdit*>(QStringLiteral("AccountServerUser"))->setText("bob");
            editor->findChild<QSpinBox*>(QStringLiteral("AccountListenPort"))->setValue(21111);
            editor->accept();
            QCOMPARE(table->rowCount(), 2);
            qobject_cast<QDialog*>(modal)->accept();
        });
        QVERIFY(session.Window().OpenSettings());
        QCOMPARE(shown, QStringList(
                            {"alice", "pop.example.jp", "110", "なし（APOP）", "alice.smith", ""}));
        QCOMPARE(problem, QStringLiteral("このログイン名はほかのアカウントで使われています。"));
        const QByteArray file = folder.Read(QStringLiteral("Quorlin_Options.ini"));
        QVERIFY2(file.startsWith("[Account1]\nHost=pop.example.jp\nLogin=alice\nPort=110\n"
                                 "Security=none\nServerUser=alice.smith\n\n"
                                 "[Account2]\nHost=mail.example.net\nListenPort=21111\n"
                                 "Login=bob@example.test\nPort=995\nSecurity=tls\n"
                                 "ServerUser=bob\n"),
                 file.constData());
        const Settings& settings = session.CurrentSettings();
        QCOMPARE(settings.accounts.size(), 3);
        QCOMPARE(settings.AccountFor(QStringLiteral("bob@example.test")), 2);
        // The new account's own port listens at once.
        QCOMPARE(session.RelayCore().AccountListeningPort(2), quint16(21111));
    }

    // The console's server row says whose server the latest client talks to.
    void consoleNamesTheAccount() {
        ConfigFolder folder;
        ScriptedServer defaultServer;
        defaultServer.greeting = "+OK default <1@default.test>\r\n";
        ScriptedServer aliceServer;
        aliceServer.greeting = "+OK alice's <2@alice.test>\r\n";
        folder.Write(QStringLiteral("Quorlin.ini"), "127.0.0.1\r\n");
        folder.Write(QStringLiteral("Quorlin_Options.ini"),
                     "[Account1]\nLogin=alice\nHost=127.0.0.1\nPort=" +
                         QByteArray::number(aliceServer.Port()) + "\n");
        DesktopSession session(TestOptions(defaultServer.Port()), true);
        QVERIFY(session.Form_Load());
        auto* serverRow = Control<QLineEdit>(session.Window(), "Text2_0");
        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_COMPARE(client.received, defaultServer.greeting);
        QCOMPARE(serverRow->placeholderText(), QStringLiteral("メールサーバーへのコマンド"));
        client.Send("USER alice\r\n");
        QTRY_COMPARE(serverRow->placeholderText(),
                     QStringLiteral("メールサーバー（alice）へのコマンド"));
    }
};

QTEST_MAIN(tst_AccountsDialog)
#include "tst_accounts_dialog.moc"
