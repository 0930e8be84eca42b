// TLS toward the mail client, over real loopback sockets with a certificate made by openssl: STLS
// and the port of TLS from the first byte carry the same conversation, STLS is refused where
// RFC 2595 has it refused and drops what was pipelined behind it, and AUTH PLAIN and LOGIN log
// in as USER and PASS do, the password in no log.
#include "relay/RelayReplies.h"
#include "support/MailboxServer.h"
#include "support/RelayRig.h"
#include "support/TestCertificates.h"

#include <QCryptographicHash>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Stamp = "<1896.697170952@dbc.mtview.ca.us>";
const QByteArray Greeting = "+OK POP3 server ready " + Stamp + "\r\n";
const QByteArray Apop =
    "APOP alice " + QCryptographicHash::hash(Stamp + "secret", QCryptographicHash::Md5).toHex() +
    "\r\n";
const QByteArray ServerCapa = "+OK\r\nTOP\r\nSTLS\r\nSASL PLAIN\r\n.\r\n";

// A mail client that trusts the test authority and can turn its plain connection into TLS.
class TlsTestClient : public QObject {
public:
    explicit TlsTestClient(const QSslCertificate& authority) {
        QSslConfiguration configuration = socket.sslConfiguration();
        configuration.setCaCertificates({authority});
        socket.setSslConfiguration(configuration);
        connect(&socket, &QSslSocket::readyRead, this, [this] { received += socket.readAll(); });
    }
    void Send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }

    QSslSocket socket;
    QByteArray received;
};

} // namespace

class tst_RelayClientTls : public QObject, RelayRig {
    Q_OBJECT

    TestCertificates certificates;
    std::unique_ptr<TlsTestClient> tlsClient;

    // Sends and waits until the client has got exactly `reply` more.
    void Exchange(const QByteArray& bytes, const QByteArray& reply) {
        const QByteArray before = tlsClient->received;
        tlsClient->Send(bytes);
        QTRY_COMPARE(tlsClient->received, before + reply);
    }

    void ConnectPlain() {
        server->greeting = Greeting;
        tlsClient = std::make_unique<TlsTestClient>(certificates.Certificate(u"ca"_s));
        tlsClient->socket.connectToHost(QHostAddress::LocalHost, relay->ListeningPort());
        QTRY_COMPARE(tlsClient->received, Greeting);
    }

    void StartTls() {
        Exchange("STLS\r\n", StlsAcceptedReply);
        tlsClient->received.clear();
        tlsClient->socket.startClientEncryption();
        QTRY_VERIFY(tlsClient->socket.isEncrypted());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(certificates.Make(), certificates.log.constData()); }

    void init() {
        SetUpRig();
        settings->clientIdentity = {certificates.Path(u"good"_s),
                                    {certificates.Certificate(u"good"_s)},
                                    certificates.Key(u"good"_s)};
    }

    void cleanup() {
        tlsClient.reset();
        TearDownRig();
    }

    // Quorlin's own STLS and SASL lines; the server's go unseen, whatever TLS it offers.
    void stlsCarriesTheConversation() {
        ConnectPlain();
        tlsClient->Send("CAPA\r\n");
        QTRY_COMPARE(server->received, QByteArray("CAPA\r\n"));
        server->Send(ServerCapa);
        QTRY_COMPARE(tlsClient->received,
                     Greeting + "+OK\r\nTOP\r\nSTLS\r\nSASL PLAIN LOGIN\r\n.\r\n");
        StartTls();
        QVERIFY(tlsClient->socket.sslHandshakeErrors().isEmpty());

        server->received.clear();
        tlsClient->Send("CAPA\r\n");
        QTRY_COMPARE(server->received, QByteArray("CAPA\r\n"));
        server->Send(ServerCapa);
        QTRY_COMPARE(tlsClient->received, QByteArray("+OK\r\nTOP\r\nSASL PLAIN LOGIN\r\n.\r\n"));
        tlsClient->Send("USER alice\r\nPASS secret\r\n");
        QTRY_COMPARE(server->received, "CAPA\r\n" + Apop);
        server->Send("+OK in\r\n");
        QTRY_VERIFY(tlsClient->received.endsWith(QByteArray(UserReply) + "+OK in\r\n"));
        QCOMPARE(view->clientLog,
                 (QList<QByteArray>{"CAPA", "STLS", "[TLS] CAPA", "USER alice", MaskedPassLine}));
    }

    // RFC 2595: what came behind STLS before the handshake could be anyone's, and what the
    // client said in clear counts no more.
    void bytesBehindStlsAreDropped() {
        ConnectPlain();
        tlsClient->Send("USER alice\r\n");
        QTRY_COMPARE(tlsClient->received, Greeting + UserReply);
        Exchange("STLS\r\nUSER mallory\r\nNOOP\r\n", StlsAcceptedReply);
        tlsClient->socket.startClientEncryption();
        QTRY_VERIFY(tlsClient->socket.isEncrypted());
        tlsClient->received.clear();
        Exchange("PASS secret\r\n", NoUserReply);
        tlsClient->Send("NOOP\r\n");
        QTRY_COMPARE(server->received, QByteArray("NOOP\r\n"));
    }

    void stlsRefused_data() {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("after the login") << true << QByteArray(StlsAfterLoginReply);
        QTest::newRow("inside TLS") << false << QByteArray(StlsAgainReply);
    }
    void stlsRefused() {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, reply);
        ConnectPlain();
        if (loggedIn) {
            tlsClient->Send("USER alice\r\nPASS secret\r\n");
            QTRY_COMPARE(server->received, Apop);
            server->Send("+OK in\r\n");
            QTRY_VERIFY(tlsClient->received.endsWith("+OK in\r\n"));
        } else {
            StartTls();
        }
        tlsClient->received.clear();
        Exchange("STLS\r\n", reply);
        tlsClient->Send("NOOP\r\n");
        QTRY_VERIFY(server->received.endsWith("NOOP\r\n"));
        QCOMPARE(tlsClient->socket.isEncrypted(), !loggedIn);
    }

    // On a plain connection from this machine, as inside TLS.
    void saslLogsInAsUserAndPass_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("serverGets");
        QTest::addColumn<QByteArray>("clientGets");
        QTest::addColumn<QList<QByteArray>>("logged");
        QTest::newRow("PLAIN with an initial response")
            << QByteArray("AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n") << Apop << QByteArray("+OK in\r\n")
            << QList<QByteArray>{"AUTH PLAIN (user alice, password ******)"};
        QTest::newRow("LOGIN") << QByteArray("auth login\r\nYWxpY2U=\r\nc2VjcmV0\r\n") << Apop
                               << QByteArray("+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n+OK in\r\n")
                               << QList<QByteArray>{"auth login", "(user alice)",
                                                    "(password ******)"};
        QTest::newRow("malformed")
            << QByteArray("AUTH PLAIN AGFsaWNlAHNlY3JldA\r\n") << QByteArray()
            << QByteArray("-ERR The response is not valid base64.\r\n")
            << QList<QByteArray>{"AUTH PLAIN ******"};
        QTest::newRow("cancelled") << QByteArray("AUTH PLAIN\r\n*\r\n") << QByteArray()
                                   << QByteArray("+ \r\n-ERR Authentication cancelled.\r\n")
                                   << QList<QByteArray>{"AUTH PLAIN", "*"};
    }
    void saslLogsInAsUserAndPass() {
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, serverGets);
        QFETCH(QByteArray, clientGets);
        QFETCH(QList<QByteArray>, logged);
        ConnectPlain();
        tlsClient->Send(lines);
        if (!serverGets.isEmpty()) {
            QTRY_COMPARE(server->received, serverGets);
            server->Send("+OK in\r\n");
        }
        QTRY_COMPARE(tlsClient->received, Greeting + clientGets);
        tlsClient->Send("NOOP\r\n");
        QTRY_COMPARE(server->received, serverGets + "NOOP\r\n");
        QCOMPARE(view->clientLog, logged + QList<QByteArray>{"NOOP"});
    }

    // TLS with the client first, then a login name of another account: that server logs the
    // client in, the default connection goes.
    void stlsThenUserOfAnAccount() {
        MailboxServer aliceServer;
        aliceServer.passwords["alice"] = "secret";
        Account alice;
        alice.login = QStringLiteral("alice");
        alice.host = QStringLiteral("127.0.0.1");
        alice.port = aliceServer.Port();
        settings->accounts.append(alice);
        ConnectPlain();
        StartTls();
        Exchange("USER alice\r\nPASS secret\r\n",
                 UserReply + QByteArray("+OK alice's maildrop ready\r\n"));
        QTRY_VERIFY(!server->Connected());
    }

    void implicitTlsPort() {
        settings->clientTls.implicitPort = FreeLoopbackPort();
        QVERIFY(relay->StartImplicitTlsListening().Ok());
        QCOMPARE(relay->TlsListeningPort(), settings->clientTls.implicitPort);
        server->greeting = Greeting;
        tlsClient = std::make_unique<TlsTestClient>(certificates.Certificate(u"ca"_s));
        tlsClient->socket.connectToHostEncrypted(u"localhost"_s, relay->TlsListeningPort());
        QTRY_COMPARE(tlsClient->received, Greeting);
        tlsClient->Send("CAPA\r\n");
        QTRY_COMPARE(server->received, QByteArray("CAPA\r\n"));
        server->Send(ServerCapa);
        QTRY_COMPARE(tlsClient->received, Greeting + "+OK\r\nTOP\r\nSASL PLAIN LOGIN\r\n.\r\n");
        tlsClient->Send("AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n");
        QTRY_COMPARE(server->received, "CAPA\r\n" + Apop);
        QCOMPARE(view->clientLog,
                 (QList<QByteArray>{"[TLS] CAPA", "AUTH PLAIN (user alice, password ******)"}));
    }
};

QTEST_GUILESS_MAIN(tst_RelayClientTls)
#include "tst_relay_client_tls.moc"
