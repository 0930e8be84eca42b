// The TLS pieces that need no socket: fingerprints as people write them, the trust verdict on a
// certificate fault, the plain STLS exchange and the two login replies folded into one.
#include "platform/TlsTrust.h"
#include "relay/Login.h"
#include "relay/StlsNegotiation.h"
#include "support/TestCertificates.h"

#include <QTest>

using Step = StlsNegotiation::Step;

class tst_TlsSteps : public QObject {
    Q_OBJECT

    TestCertificates certificates;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(certificates.Make(), certificates.log.constData()); }

    void fingerprintParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected"); // hex; empty: refused
        QTest::addColumn<QString>("reason");      // when refused
        const QByteArray hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
        const QString length = QStringLiteral(" hex digits where a SHA-256 fingerprint has 64");
        QTest::newRow("colons, upper case")
            << QStringLiteral("01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:"
                              "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF")
            << hex << QString();
        QTest::newRow("bare, lower case, spaces around")
            << QString::fromLatin1(" " + hex + " ") << hex << QString();
        // As a Japanese input method types them.
        QTest::newRow("fullwidth digits and letters")
            << QStringLiteral("０１２３４５６７８９ａｂｃｄｅｆ").repeated(4) << hex << QString();
        QTest::newRow("fullwidth colons, upper case")
            << QStringLiteral("０１：２３：４５：６７：８９：ＡＢ：ＣＤ：ＥＦ").repeated(4) << hex
            << QString();
        QTest::newRow("fullwidth, short")
            << QStringLiteral("０１２３") << QByteArray() << "4" + length;
        QTest::newRow("fullwidth G")
            << QString::fromLatin1(hex.chopped(1)) + QStringLiteral("Ｇ") << QByteArray()
            << QStringLiteral("\"Ｇ\" is not a hex digit (0-9, A-F)");
        QTest::newRow("Arabic-Indic digits")
            << QString(64, QChar(0x0663)) << QByteArray()
            << QStringLiteral("\"٣\" is not a hex digit (0-9, A-F)");
        QTest::newRow("63 digits")
            << QString::fromLatin1(hex.chopped(1)) << QByteArray() << "63" + length;
        QTest::newRow("33 bytes") << QString::fromLatin1(hex + "00") << QByteArray()
                                  << "66" + length;
        QTest::newRow("not hex") << QString::fromLatin1(hex.chopped(1) + "g") << QByteArray()
                                 << QStringLiteral("\"g\" is not a hex digit (0-9, A-F)");
        QTest::newRow("SHA-1 length")
            << QString::fromLatin1(hex.left(40)) << QByteArray() << "40" + length;
        QTest::newRow("empty") << QString() << QByteArray() << "0" + length;
    }
    void fingerprintParsing() {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QFETCH(QString, reason);
        FingerprintProblem why;
        const std::optional<QByteArray> parsed = ParseFingerprint(text, &why);
        QCOMPARE(parsed.has_value(), !expected.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->toHex(), expected);
        }
        QCOMPARE(parsed ? QString() : EnglishWords(why), reason);
    }

    // Quorlin's fingerprint of a certificate and its printed form are openssl's.
    void fingerprintMatchesOpenssl() {
        for (const char* name : {"good", "self"}) {
            const QString openssl = certificates.Fingerprint(QLatin1String(name));
            QCOMPARE(FormatFingerprint(
                         CertificateFingerprint(certificates.Certificate(QLatin1String(name)))),
                     openssl);
            QCOMPARE(ParseFingerprint(openssl.toLower()), certificates.FingerprintBytes(name));
        }
    }

    void trustDecision_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QList<int>>("errors");
        QTest::addColumn<QStringList>("pinned");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        const int selfSigned = QSslError::SelfSignedCertificate;
        const int nameMismatch = QSslError::HostNameMismatch;
        const int expired = QSslError::CertificateExpired;
        const int untrusted = QSslError::UnableToGetLocalIssuerCertificate;
        QTest::newRow("no fault") << "good" << QList<int>{} << QStringList{} << QString();
        QTest::newRow("self-signed, nothing pinned")
            << "self" << QList<int>{selfSigned} << QStringList{} << "self-signed";
        QTest::newRow("self-signed, pinned")
            << "self" << QList<int>{selfSigned} << QStringList{"self"} << QString();
        QTest::newRow("pinned stands in for the name too")
            << "self" << QList<int>{selfSigned, nameMismatch} << QStringList{"other", "self"}
            << QString();
        QTest::newRow("private CA, pinned")
            << "other" << QList<int>{untrusted, nameMismatch} << QStringList{"other"} << QString();
        QTest::newRow("changed certificate")
            << "self2" << QList<int>{selfSigned} << QStringList{"self"} << "not the pinned one";
        QTest::newRow("another name, nothing pinned")
            << "other" << QList<int>{nameMismatch} << QStringList{} << "another host name";
        QTest::newRow("pinned but expired")
            << "expired" << QList<int>{untrusted, expired} << QStringList{"expired"} << "expired";
    }
    void trustDecision() {
        QFETCH(QString, certificate);
        QFETCH(QList<int>, errors);
        QFETCH(QStringList, pinned);
        QFETCH(QString, refusal);
        const QSslCertificate leaf = certificates.Certificate(certificate);
        QVERIFY(!leaf.isNull());
        QList<QSslError> faults;
        for (int error : errors) {
            faults.append(QSslError(QSslError::SslError(error), leaf));
        }
        QList<QByteArray> pins;
        for (const QString& name : pinned) {
            pins.append(certificates.FingerprintBytes(name));
        }
        const TrustDecision decision = DecideTrust(faults, leaf, pins);
        QCOMPARE(decision.accepted, refusal.isEmpty());
        QVERIFY2(decision.reason.contains(refusal), qPrintable(decision.reason));
    }

    void stlsNegotiation_data() {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QString>("refusal");
        const QByteArray greeting = "+OK ready <1.2@host>\r\n";
        const QByteArray capa = StlsNegotiation::CapaCommand;
        const QByteArray stls = StlsNegotiation::StlsCommand;
        const int wait = int(Step::Wait), send = int(Step::SendToServer),
                  start = int(Step::StartTls), refused = int(Step::Refused);
        QTest::newRow("offered") << QList<QByteArray>{greeting,
                                                      "+OK\r\nTOP\r\nSTLS\r\nUSER\r\n.\r\n",
                                                      "+OK go\r\n"}
                                 << QList<int>{send, send, start}
                                 << QList<QByteArray>{capa, stls, {}} << QString();
        QTest::newRow("lines split across blocks, keyword in lower case")
            << QList<QByteArray>{"+OK ready <1.2", "@host>\r\n", "+OK\r\nst", "ls\r\n.",
                                 "\r\n",           "+OK",        "\r\n"}
            << QList<int>{wait, send, wait, wait, send, wait, start}
            << QList<QByteArray>{{}, capa, {}, {}, stls, {}, {}} << QString();
        QTest::newRow("not offered")
            << QList<QByteArray>{greeting, "+OK\r\nUSER\r\nSTLSX\r\n.\r\n"}
            << QList<int>{send, refused} << QList<QByteArray>{capa, {}} << "does not offer STLS";
        QTest::newRow("no CAPA, STLS asked all the same")
            << QList<QByteArray>{greeting, "-ERR unknown command\r\n", "+OK\r\n"}
            << QList<int>{send, send, start} << QList<QByteArray>{capa, stls, {}} << QString();
        QTest::newRow("STLS refused")
            << QList<QByteArray>{greeting, "+OK\r\nSTLS\r\n.\r\n", "-ERR TLS not available\r\n"}
            << QList<int>{send, send, refused} << QList<QByteArray>{capa, stls, {}}
            << "refused STLS";
        // Only "+OK" starts TLS: anything else is no agreement, "-ERR" or not.
        QTest::newRow("STLS answered otherwise")
            << QList<QByteArray>{greeting, "+OK\r\nSTLS\r\n.\r\n", "+ go ahead\r\n"}
            << QList<int>{send, send, refused} << QList<QByteArray>{capa, stls, {}}
            << "refused STLS";
        QTest::newRow("data injected behind the +OK")
            << QList<QByteArray>{greeting, "+OK\r\nSTLS\r\n.\r\n", "+OK\r\n+OK fake\r\n"}
            << QList<int>{send, send, refused} << QList<QByteArray>{capa, stls, {}}
            << "right after STLS";
        // Bounded as the greeting is: a line that never ends is not held without end.
        QTest::newRow("endless CAPA line")
            << QList<QByteArray>{greeting, "+OK\r\n" + QByteArray(8192, 'c'), "c"}
            << QList<int>{send, wait, refused} << QList<QByteArray>{capa, {}, {}}
            << "longer than 8192 bytes";
        QTest::newRow("greeting refuses")
            << QList<QByteArray>{"-ERR busy\r\n"} << QList<int>{refused} << QList<QByteArray>{{}}
            << "refused the connection";
    }
    void stlsNegotiation() {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QList<int>, steps);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QString, refusal);
        StlsNegotiation negotiation;
        QByteArray allLines;
        for (qsizetype i = 0; i < blocks.size(); ++i) {
            const StlsNegotiation::Action action = negotiation.Feed(blocks[i]);
            QCOMPARE(int(action.step), steps[i]);
            QCOMPARE(action.bytes, sent[i]);
            for (const QByteArray& line : action.serverLines) {
                allLines += line + "\r\n";
            }
            if (action.step == Step::Refused) {
                QVERIFY2(action.reason.contains(refusal), qPrintable(action.reason));
            }
        }
        // Every complete line the server sent is there for the log.
        QByteArray received = blocks.join();
        QCOMPARE(allLines, received.left(received.lastIndexOf("\r\n") + 2));
        if (steps.last() == int(Step::StartTls)) {
            QCOMPARE(negotiation.Greeting(), QByteArray("+OK ready <1.2@host>\r\n"));
            // Once done, nothing more is taken for the plain exchange.
            QCOMPARE(int(negotiation.Feed("+OK\r\n").step), int(Step::Wait));
        }
    }

    // Where Quorlin logs in with USER and PASS, the client sees no stamp to compute APOP with.
    void greetingWithoutTimestamp_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("stamp at the end")
            << QByteArray("+OK Dovecot (Debian) ready. <1.2.3+/=@host>\r\n")
            << QByteArray("+OK Dovecot (Debian) ready. \r\n");
        QTest::newRow("text after the stamp, only the first stamp")
            << QByteArray("+OK <a.b@c> ready <d@e>\r\n") << QByteArray("+OK  ready <d@e>\r\n");
        QTest::newRow("no stamp") << QByteArray("+OK ready\r\n") << QByteArray("+OK ready\r\n");
        QTest::newRow("unclosed") << QByteArray("+OK a > b <c\r\n")
                                  << QByteArray("+OK a > b <c\r\n");
    }
    void greetingWithoutTimestamp() {
        QFETCH(QByteArray, greeting);
        QFETCH(QByteArray, shown);
        QCOMPARE(WithoutTimestamp(greeting), shown);
    }

    void loginReplies_data() {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::addColumn<QByteArray>("toClient");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("both fine: the PASS reply")
            << QList<QByteArray>{"+OK\r\n+OK Logged in.\r\n"} << QByteArray("+OK Logged in.\r\n")
            << QByteArray();
        QTest::newRow("split anywhere, pipelined reply behind")
            << QList<QByteArray>{"+O", "K\r", "\n+OK in\r\n+OK 2 ", "30\r\n"}
            << QByteArray("+OK in\r\n") << QByteArray("+OK 2 30\r\n");
        QTest::newRow("USER refused: its reply, not the PASS one")
            << QList<QByteArray>{"-ERR no such user\r\n", "-ERR No username given.\r\n"}
            << QByteArray("-ERR no such user\r\n") << QByteArray();
        QTest::newRow("PASS refused")
            << QList<QByteArray>{"+OK\r\n-ERR [AUTH] Authentication failed.\r\n"}
            << QByteArray("-ERR [AUTH] Authentication failed.\r\n") << QByteArray();
    }
    void loginReplies() {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QByteArray, toClient);
        QFETCH(QByteArray, rest);
        LoginReplyPair pair;
        pair.Start();
        QByteArray client, after, consumed;
        for (const QByteArray& block : blocks) {
            const LoginReplyPair::Result result = pair.Feed(block);
            client += result.toClient;
            after += result.rest;
            consumed += result.consumed;
        }
        QCOMPARE(client, toClient);
        QCOMPARE(after, rest);
        QCOMPARE(consumed + after, blocks.join());
        QVERIFY(!pair.Active());
    }
};

QTEST_GUILESS_MAIN(tst_TlsSteps)
#include "tst_tls_steps.moc"
