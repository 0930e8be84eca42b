// AUTH PLAIN and LOGIN taken in from a mail client: challenges, credentials, refusals, the log.
#include "relay/SaslLogin.h"

#include <QTest>

class tst_SaslLogin : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exchange_data() {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QByteArrayList>("logged");
        QTest::addColumn<QByteArray>("user"); // empty: no credentials
        QTest::addColumn<QByteArray>("password");

        const QByteArray notBase64 = "-ERR The response is not valid base64.\r\n";
        const QByteArray malformed = "-ERR The PLAIN response is malformed.\r\n";
        const QByteArray badUser =
            "-ERR The user name is empty or holds a space or a control character.\r\n";
        const QByteArray badPassword =
            "-ERR The password is empty or holds a control character.\r\n";
        const QByteArray cancelled = "-ERR Authentication cancelled.\r\n";
        const QByteArray alice = "(user alice, password ******)";

        QTest::newRow("PLAIN, initial response")
            << QByteArrayList{"AUTH PLAIN AGFsaWNlAHNlY3JldA=="} << QByteArray()
            << QByteArrayList{"AUTH PLAIN " + alice} << QByteArray("alice") << QByteArray("secret");
        QTest::newRow("PLAIN after the empty challenge, lower case")
            << QByteArrayList{"auth plain", "AGFsaWNlAHNlY3JldA=="} << QByteArray("+ \r\n")
            << QByteArrayList{"auth plain", alice} << QByteArray("alice") << QByteArray("secret");
        QTest::newRow("PLAIN, the user as authorization identity")
            << QByteArrayList{"AUTH PLAIN YWxpY2UAYWxpY2UAc2VjcmV0"} << QByteArray()
            << QByteArrayList{"AUTH PLAIN " + alice} << QByteArray("alice") << QByteArray("secret");
        QTest::newRow("PLAIN, a space in the password")
            << QByteArrayList{"AUTH PLAIN AGFsaWNlAHBhc3Mgd29yZA=="} << QByteArray()
            << QByteArrayList{"AUTH PLAIN " + alice} << QByteArray("alice")
            << QByteArray("pass word");
        QTest::newRow("PLAIN, another authorization identity")
            << QByteArrayList{"AUTH PLAIN Ym9iAGFsaWNlAHNlY3JldA=="}
            << QByteArray("-ERR Quorlin logs in as the user only: leave the authorization "
                          "identity empty.\r\n")
            << QByteArrayList{"AUTH PLAIN " + alice} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, padding missing")
            << QByteArrayList{"AUTH PLAIN AGFsaWNlAHNlY3JldA"} << notBase64
            << QByteArrayList{"AUTH PLAIN ******"} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, one NUL")
            << QByteArrayList{"AUTH PLAIN AGFsaWNl"} << malformed
            << QByteArrayList{"AUTH PLAIN ******"} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, empty initial response")
            << QByteArrayList{"AUTH PLAIN ="} << malformed << QByteArrayList{"AUTH PLAIN ******"}
            << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, empty user")
            << QByteArrayList{"AUTH PLAIN AABzZWNyZXQ="} << badUser
            << QByteArrayList{"AUTH PLAIN ******"} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, a space in the user")
            << QByteArrayList{"AUTH PLAIN AGFsaSBjZQBzZWNyZXQ="} << badUser
            << QByteArrayList{"AUTH PLAIN ******"} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, a line break in the password")
            << QByteArrayList{"AUTH PLAIN AGFsaWNlAHNlYw0KcmV0"} << badPassword
            << QByteArrayList{"AUTH PLAIN " + alice} << QByteArray() << QByteArray();
        QTest::newRow("PLAIN, cancelled")
            << QByteArrayList{"AUTH PLAIN", "*"} << "+ \r\n" + cancelled
            << QByteArrayList{"AUTH PLAIN", "*"} << QByteArray() << QByteArray();

        QTest::newRow("LOGIN") << QByteArrayList{"AUTH LOGIN", "YWxpY2U=", "c2VjcmV0"}
                               << QByteArray("+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n")
                               << QByteArrayList{"AUTH LOGIN", "(user alice)", "(password ******)"}
                               << QByteArray("alice") << QByteArray("secret");
        QTest::newRow("LOGIN, the name as initial response")
            << QByteArrayList{"AUTH LOGIN YWxpY2U=", "c2VjcmV0"} << QByteArray("+ UGFzc3dvcmQ6\r\n")
            << QByteArrayList{"AUTH LOGIN (user alice)", "(password ******)"} << QByteArray("alice")
            << QByteArray("secret");
        QTest::newRow("LOGIN, cancelled at the password")
            << QByteArrayList{"AUTH LOGIN", "YWxpY2U=", "*"}
            << "+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n" + cancelled
            << QByteArrayList{"AUTH LOGIN", "(user alice)", "*"} << QByteArray() << QByteArray();
        QTest::newRow("LOGIN, a password not base64")
            << QByteArrayList{"AUTH LOGIN", "YWxpY2U=", "secret"}
            << "+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n" + notBase64
            << QByteArrayList{"AUTH LOGIN", "(user alice)", "(password ******)"} << QByteArray()
            << QByteArray();
        QTest::newRow("LOGIN, a line break in the name")
            << QByteArrayList{"AUTH LOGIN", "YWxpCmNl"} << "+ VXNlcm5hbWU6\r\n" + badUser
            << QByteArrayList{"AUTH LOGIN", "******"} << QByteArray() << QByteArray();

        QTest::newRow("unknown mechanism, its token kept out of the log")
            << QByteArrayList{"AUTH XOAUTH2 dXNlcj1hbGljZQFhdXRoPUJlYXJlciB0b2tlbgEB"}
            << QByteArray("-ERR Unknown mechanism: Quorlin takes PLAIN and LOGIN.\r\n")
            << QByteArrayList{"AUTH XOAUTH2"} << QByteArray() << QByteArray();
        QTest::newRow("mechanisms listed")
            << QByteArrayList{"AUTH"} << QByteArray("+OK\r\nPLAIN\r\nLOGIN\r\n.\r\n")
            << QByteArrayList{"AUTH"} << QByteArray() << QByteArray();
        QTest::newRow("a new AUTH after a refused one")
            << QByteArrayList{"AUTH PLAIN", "!!!!", "AUTH PLAIN AGFsaWNlAHNlY3JldA=="}
            << "+ \r\n" + notBase64 << QByteArrayList{"AUTH PLAIN", "******", "AUTH PLAIN " + alice}
            << QByteArray("alice") << QByteArray("secret");
    }

    void exchange() {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, replies);
        QFETCH(QByteArrayList, logged);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, password);

        SaslExchange exchange;
        QByteArray answered;
        QByteArrayList shown;
        SaslStep step;
        for (const QByteArray& line : lines) {
            step = exchange.AwaitingResponse() ? exchange.Respond(line) : exchange.Start(line);
            QCOMPARE(step.awaitingResponse, exchange.AwaitingResponse());
            answered += step.reply;
            shown.append(step.logLine);
        }
        QCOMPARE(answered, replies);
        QCOMPARE(shown, logged);
        QVERIFY(!exchange.AwaitingResponse());
        QCOMPARE(step.credentials.has_value(), !user.isEmpty());
        if (step.credentials) {
            QCOMPARE(step.credentials->user, user);
            QCOMPARE(step.credentials->password, password);
        }
    }
};

QTEST_GUILESS_MAIN(tst_SaslLogin)
#include "tst_sasl_login.moc"
