#include "gui/AccountChecksMenu.h"
#include "settings/Settings.h"

#include <QMenu>
#include <QTest>

// The tray menu's account lines: each account's last check in the user's words, none at all
// without accounts.
class tst_AccountChecksMenu : public QObject {
    Q_OBJECT

    static AccountCheck Check(const QString& login, AccountCheck::Outcome outcome, int retrieved,
                              int tagged) {
        return {login, QDateTime(QDate(2026, 12, 7), QTime(12, 4)), outcome, {}, retrieved, tagged};
    }

private Q_SLOTS:
    void text_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("text");
        QTest::newRow("done") << int(AccountCheck::Outcome::Done)
                              << QStringLiteral("12:04 受信 3 通、タグ付け 1 通");
        QTest::newRow("login refused") << int(AccountCheck::Outcome::LoginRefused)
                                       << QStringLiteral("12:04 ログインできませんでした");
        QTest::newRow("no connection") << int(AccountCheck::Outcome::NoConnection)
                                       << QStringLiteral("12:04 サーバーに接続できませんでした");
        QTest::newRow("no TLS") << int(AccountCheck::Outcome::NoTls)
                                << QStringLiteral("12:04 サーバーと安全に接続できませんでした");
    }
    void text() {
        QFETCH(int, outcome);
        QFETCH(QString, text);
        QCOMPARE(AccountCheckText(Check({}, AccountCheck::Outcome(outcome), 3, 1)), text);
    }

    void linesAboveTheMenu() {
        QMenu menu;
        menu.addAction(QStringLiteral("表示"));
        Settings settings;
        AccountChecksMenu checks(menu, settings);
        checks.Record(Check({}, AccountCheck::Outcome::Done, 1, 0));
        QCOMPARE(menu.actions().size(), 1); // no accounts: the menu as it was

        settings.DefaultAccount().host = QStringLiteral("pop.example.com");
        Account alice;
        alice.login = QStringLiteral("alice");
        Account bob;
        bob.login = QStringLiteral("bob@example.test");
        settings.accounts << alice << bob;
        checks.Record(
            Check(QStringLiteral("bob@example.test"), AccountCheck::Outcome::NoConnection, 0, 0));
        QCOMPARE(checks.Lines(),
                 QStringList(
                     {QStringLiteral("pop.example.com：12:04 受信 1 通、タグ付け 0 通"),
                      QStringLiteral("alice：まだ受信していません"),
                      QStringLiteral("bob@example.test：12:04 サーバーに接続できませんでした")}));
        QCOMPARE(menu.actions().size(), 5); // three lines, a separator, then the menu's own
        QCOMPARE(menu.actions().last()->text(), QStringLiteral("表示"));
    }
};

QTEST_MAIN(tst_AccountChecksMenu)
#include "tst_account_checks_menu.moc"
