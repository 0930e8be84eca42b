// The relay in front of a TLS mail server on loopback, with certificates made by openssl for the
// test: implicit TLS and STLS carry the whole dialogue with the login inside TLS; a certificate
// for another name, an expired one and a self-signed one are refused before any login leaves;
// a pinned self-signed one is accepted; a server without STLS gets no plain login.
#include "relay/Relay.h"
#include "support/FakeRelayView.h"
#include "support/LoopbackPeers.h"
#include "support/RelayRig.h"
#include "support/TestCertificates.h"

#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <memory>

namespace {

const QByteArray Greeting = "+OK Test POP3 ready <77.1@mail.test>\r\n";
// As the client gets it: Quorlin logs in with USER and PASS, so no stamp invites APOP.
const QByteArray GreetingShown = "+OK Test POP3 ready \r\n";
const QByteArray Message = "Return-Path: <a@example.org>\r\n"
                           "Content-Type: text/plain; charset=GB2312\r\n"
                           "Subject: Hello\r\n"
                           "\r\n"
                           "..dot-stuffed line\r\n";
const QByteArray TaggedMessage = "Return-Path: <a@example.org>\r\n"
                                 "Content-Type: text/plain; charset=GB2312\r\n"
                                 "Subject: [VudOdirOro]Hello\r\n"
                                 "\r\n"
                                 "..dot-stuffed line\r\n";

// A POP3 server that speaks TLS from the first byte or after STLS, and notes every command
// line it got and whether it came inside TLS.
class TlsPop3Server : public QTcpServer {
public:
    struct Line {
        QByteArray text;
        bool encrypted;
    };

    SecurityMode mode = SecurityMode::Tls;
    bool offerStls = true;
    bool acceptStls = true;
    QSslCertificate certificate;
    QSslKey key;
    QList<Line> lines;
    int handshakes = 0;

    QList<QByteArray> Commands() const {
        QList<QByteArray> texts;
        for (const Line& line : lines) {
            texts.append(line.text);
        }
        return texts;
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        QSslConfiguration configuration = socket->sslConfiguration();
        configuration.setLocalCertificate(certificate);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->setSslConfiguration(configuration);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            ++handshakes;
            if (mode == SecurityMode::Tls) {
                Write(socket, Greeting);
            }
        });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        if (mode == SecurityMode::Tls) {
            socket->startServerEncryption();
        } else {
            Write(socket, Greeting);
        }
    }

private:
    static void Write(QSslSocket* socket, const QByteArray& bytes) {
        socket->write(bytes);
        socket->flush();
    }

    void Read(QSslSocket* socket) {
        pending += socket->readAll();
        for (qsizetype end; (end = pending.indexOf("\r\n")) >= 0;) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 2);
            lines.append({line, socket->isEncrypted()});
            Answer(socket, line);
        }
    }

    void Answer(QSslSocket* socket, const QByteArray& line) {
        if (line == "CAPA") {
            Write(socket,
                  "+OK\r\nTOP\r\n" + QByteArray(offerStls ? "STLS\r\n" : "") + "USER\r\n.\r\n");
        } else if (line == "STLS") {
            if (!acceptStls) {
                Write(socket, "-ERR STLS not now\r\n");
                return;
            }
            Write(socket, "+OK Begin TLS negotiation now.\r\n");
            socket->startServerEncryption();
        } else if (line.startsWith("USER ")) {
            Write(socket, line == "USER alice" ? "+OK\r\n" : "-ERR No such user.\r\n");
        } else if (line.startsWith("PASS ")) {
            Write(socket, line == "PASS s3cret" ? "+OK Logged in.\r\n"
                                                : "-ERR [AUTH] Authentication failed.\r\n");
        } else if (line == "RETR 1") {
            Write(socket, "+OK " + QByteArray::number(Message.size() - 1) + " octets\r\n" +
                              Message + ".\r\n");
        } else if (line == "QUIT") {
            Write(socket, "+OK Logging out.\r\n");
            socket->disconnectFromHost();
        } else {
            Write(socket, "-ERR Unknown command.\r\n");
        }
    }

    QByteArray pending;
};

} // namespace

class tst_RelayTls : public QObject {
    Q_OBJECT

    TestCertificates certificates;
    std::unique_ptr<TlsPop3Server> server;
    std::unique_ptr<FakeRelayView> view;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<TestClient> client;

    void Start(SecurityMode mode, const QString& certificate, const QStringList& pinned = {}) {
        server = std::make_unique<TlsPop3Server>();
        server->mode = mode;
        server->certificate = certificates.Certificate(certificate);
        server->key = certificates.Key(certificate);
        QVERIFY(!server->certificate.isNull() && !server->key.isNull());
        QVERIFY(server->listen(QHostAddress::LocalHost, 0));
        view = std::make_unique<FakeRelayView>();
        settings = std::make_unique<Settings>(LoopbackSettings(server->serverPort()));
        settings->blockedCharsets = {QStringLiteral("gb2312")};
        Account& account = settings->DefaultAccount();
        account.security = mode;
        account.caCertificates = {certificates.Certificate(QStringLiteral("ca"))};
        // Pinned as the trust dialog saves them, for the host connected to.
        for (const QString& name : pinned) {
            settings->trustedCertificates[QStringLiteral("127.0.0.1")].append(
                certificates.FingerprintBytes(name));
        }
        relay = std::make_unique<Relay>(*view, *settings);
        QVERIFY(relay->StartListening().Ok());
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
    }

    void Exchange(const QByteArray& command, const QByteArray& reply) {
        client->received.clear();
        client->Send(command);
        QTRY_COMPARE(client->received, reply);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(certificates.Make(), certificates.log.constData()); }

    void cleanup() {
        client.reset();
        relay.reset();
        settings.reset();
        view.reset();
        server.reset();
    }

    void relaysInsideTls_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QStringList>("pinned");
        QTest::addColumn<QList<QByteArray>>("plainCommands");
        const QList<QByteArray> stlsOpening{"CAPA", "STLS"};
        QTest::newRow("implicit TLS, certificate from the CA file")
            << int(SecurityMode::Tls) << "good" << QStringList{} << QList<QByteArray>{};
        QTest::newRow("STLS, certificate from the CA file")
            << int(SecurityMode::StartTls) << "good" << QStringList{} << stlsOpening;
        QTest::newRow("implicit TLS, self-signed and pinned")
            << int(SecurityMode::Tls) << "self" << QStringList{"self"} << QList<QByteArray>{};
        QTest::newRow("STLS, self-signed and pinned among others")
            << int(SecurityMode::StartTls) << "self" << QStringList{"self2", "self"} << stlsOpening;
    }
    void relaysInsideTls() {
        QFETCH(int, mode);
        QFETCH(QString, certificate);
        QFETCH(QStringList, pinned);
        QFETCH(QList<QByteArray>, plainCommands);
        Start(SecurityMode(mode), certificate, pinned);
        QSignalSpy failures(relay.get(), &Relay::ServerTlsFailed);
        QTRY_COMPARE(client->received, GreetingShown);
        QCOMPARE(view->serverLog.first(), Greeting.chopped(2));
        QVERIFY(relay->LatestSession()->Upstream().Server().IsEncrypted());

        Exchange("USER alice\r\n", "+OK Password required.\r\n");
        // Pipelined behind PASS: its reply must follow the single login reply.
        Exchange("PASS s3cret\r\nNOOP\r\n", "+OK Logged in.\r\n-ERR Unknown command.\r\n");
        Exchange("RETR 1\r\n", "+OK " + QByteArray::number(Message.size() - 1) + " octets\r\n" +
                                   TaggedMessage + ".\r\n");
        // The console's line goes inside TLS as well, and its reply reaches the client.
        client->received.clear();
        QCOMPARE(relay->ConsoleSend(0, "STAT"), Relay::ConsoleResult::Sent);
        QTRY_COMPARE(client->received, QByteArray("-ERR Unknown command.\r\n"));
        Exchange("QUIT\r\n", "+OK Logging out.\r\n");

        const QList<QByteArray> inside{"USER alice", "PASS s3cret", "NOOP",
                                       "RETR 1",     "STAT",        "QUIT"};
        QCOMPARE(server->Commands(), plainCommands + inside);
        for (const TlsPop3Server::Line& line : server->lines) {
            QCOMPARE(line.encrypted, !plainCommands.contains(line.text));
        }
        QCOMPARE(failures.count(), 0);
        QVERIFY(view->clientLog.contains("PASS ******"));
        QVERIFY(!view->clientLog.contains("PASS s3cret"));
        QVERIFY(view->serverLog.contains("Subject: [VudOdirOro]Hello"));
    }

    void loginRepliesFoldedIntoOne_data() {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("wrong password") << QByteArray("alice") << QByteArray("nope")
                                        << QByteArray("-ERR [AUTH] Authentication failed.\r\n");
        QTest::newRow("unknown user")
            << QByteArray("bob") << QByteArray("s3cret") << QByteArray("-ERR No such user.\r\n");
    }
    void loginRepliesFoldedIntoOne() {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, reply);
        Start(SecurityMode::Tls, QStringLiteral("good"));
        QTRY_COMPARE(client->received, GreetingShown);
        Exchange("USER " + user + "\r\n", "+OK Password required.\r\n");
        Exchange("PASS " + password + "\r\n", reply);
        // The next command's reply is its own, not the swallowed second login reply.
        Exchange("QUIT\r\n", "+OK Logging out.\r\n");
    }

    void refusedBeforeAnyLogin_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QStringList>("pinned");
        QTest::addColumn<bool>("offerStls");
        QTest::addColumn<bool>("acceptStls");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("certificateShown");
        const int tls = int(SecurityMode::Tls), stls = int(SecurityMode::StartTls);
        QTest::newRow("another name")
            << tls << "other" << QStringList{} << true << true << "another host name" << true;
        QTest::newRow("expired") << tls << "expired" << QStringList{} << true << true << "expired"
                                 << true;
        QTest::newRow("expired, pinned")
            << tls << "expired" << QStringList{"expired"} << true << true << "expired" << true;
        QTest::newRow("self-signed")
            << tls << "self" << QStringList{} << true << true << "self-signed" << true;
        QTest::newRow("self-signed after STLS")
            << stls << "self" << QStringList{} << true << true << "self-signed" << true;
        QTest::newRow("changed since pinned") << stls << "self2" << QStringList{"self"} << true
                                              << true << "not the pinned one" << true;
        QTest::newRow("STLS not offered")
            << stls << "good" << QStringList{} << false << true << "does not offer STLS" << false;
        QTest::newRow("STLS refused")
            << stls << "good" << QStringList{} << true << false << "refused STLS" << false;
    }
    void refusedBeforeAnyLogin() {
        QFETCH(int, mode);
        QFETCH(QString, certificate);
        QFETCH(QStringList, pinned);
        QFETCH(bool, offerStls);
        QFETCH(bool, acceptStls);
        QFETCH(QString, reason);
        QFETCH(bool, certificateShown);
        Start(SecurityMode(mode), certificate, pinned);
        server->offerStls = offerStls;
        server->acceptStls = acceptStls;
        QSignalSpy failures(relay.get(), &Relay::ServerTlsFailed);
        // A client that does not wait for the greeting: its login must not leave either.
        QTRY_VERIFY(client->Connected() || !client->received.isEmpty());
        if (client->received.isEmpty()) {
            client->Send("USER alice\r\nPASS s3cret\r\n");
        }

        QTRY_VERIFY(client->received.endsWith("\r\n"));
        QVERIFY2(client->received.startsWith("-ERR ") && client->received.contains(reason.toUtf8()),
                 client->received.constData());
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(failures.count(), 1);
        const auto failure = failures.first().first().value<TlsFailure>();
        QVERIFY2(failure.reason.contains(reason), qPrintable(failure.reason));
        if (certificateShown) {
            QCOMPARE(FormatFingerprint(CertificateFingerprint(failure.certificate)),
                     certificates.Fingerprint(certificate));
            QVERIFY(DescribeFailure(failure).contains(certificates.Fingerprint(certificate)));
        }
        for (const TlsPop3Server::Line& line : server->lines) {
            QVERIFY2(line.text == "CAPA" || line.text == "STLS", line.text.constData());
        }
        QVERIFY(RelayIdle(*relay));
        QCOMPARE(relay->SessionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_RelayTls)
#include "tst_relay_tls.moc"
