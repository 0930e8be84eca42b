#include "app/AccountOption.h"

#include <QTest>

// --account values as a user types them: the login may hold "@" and spaces, an IPv6 host needs
// brackets before a port, and a wrong key or value refuses the run.
class tst_AccountOption : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Expected: "login|host|port|security|user|listen|pins|ca", or "refused".
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString pin(64, QLatin1Char('a'));
        QTest::newRow("plain") << "alice=pop.example.jp"
                               << "alice|pop.example.jp|110|0||0|0|";
        QTest::newRow("tls takes 995") << "bob@example.test=mail.example.net,security=tls"
                                       << "bob@example.test|mail.example.net|995|1||0|0|";
        QTest::newRow("everything")
            << "bob smith=[::1]:1995,security=starttls,ca=/tmp/ca.pem,pin=" + pin +
                   ",user=bob,listen=1111"
            << "bob smith|[::1]|1995|2|bob|1111|1|/tmp/ca.pem";
        QTest::newRow("bare IPv6, no port") << "a=::1"
                                            << "a|::1|110|0||0|0|";
        QTest::newRow("login with =") << "a=b=h.example"
                                      << "a=b|h.example|110|0||0|0|";
        QTest::newRow("no login") << "=h.example"
                                  << "refused";
        QTest::newRow("no host") << "alice="
                                 << "refused";
        QTest::newRow("port 0") << "alice=h:0"
                                << "refused";
        QTest::newRow("unknown security") << "alice=h,security=ssl"
                                          << "refused";
        QTest::newRow("unknown key") << "alice=h,port=995"
                                     << "refused";
        QTest::newRow("short pin") << "alice=h,pin=abcd"
                                   << "refused";
        QTest::newRow("listen not a port") << "alice=h,listen=x"
                                           << "refused";
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const Result<Account> parsed = ParseAccountOption(text);
        if (expected == QLatin1String("refused")) {
            QVERIFY(!parsed);
            QVERIFY(!parsed.Error().isEmpty());
            return;
        }
        QVERIFY2(parsed, qPrintable(parsed.Error()));
        const Account& a = parsed.Value();
        QCOMPARE(QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                     .arg(a.login, a.host)
                     .arg(a.port)
                     .arg(int(a.security))
                     .arg(a.serverUser)
                     .arg(a.listenPort)
                     .arg(a.pinnedFingerprints.size())
                     .arg(a.caFile),
                 expected);
    }
};

QTEST_GUILESS_MAIN(tst_AccountOption)
#include "tst_account_option.moc"
