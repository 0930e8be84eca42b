// Faults around the relay over real loopback sockets: a side leaving in the middle of a message,
// a mail server that cannot be reached, endless lines and binary garbage from either side.
// Nothing may crash, and every byte that should reach the other side does, in order.
#include "relay/ClientCommand.h"
#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "support/RandomBytes.h"
#include "support/RelayRig.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray Stamp(int n) {
    return "<" + QByteArray::number(n) + ".4711@faults.test>";
}
QByteArray Greeting(int n) {
    return "+OK ready " + Stamp(n) + "\r\n";
}

// The login line as the mail server checks it, computed apart from the relay's own digest code.
QByteArray ApopLine(const QByteArray& user, const QByteArray& stamp, const QByteArray& password) {
    return "APOP " + user + ' ' +
           QCryptographicHash::hash(stamp + password, QCryptographicHash::Md5).toHex() + "\r\n";
}

constexpr int BigTimeout = 20000;
constexpr qsizetype MiB = 1024 * 1024;

} // namespace

class tst_RelayFaults : public QObject, RelayRig {
    Q_OBJECT

    void ConnectClient(int greeting) { RelayRig::ConnectClient(Greeting(greeting)); }

    // USER and PASS through the relay; the server must see the APOP line for this greeting.
    void LogIn(int greeting, const QByteArray& user, const QByteArray& password) {
        const QByteArray before = client->received;
        client->Send("USER " + user + "\r\n");
        QTRY_COMPARE(client->received, before + UserReply);
        server->received.clear();
        client->Send("PASS " + password + "\r\n");
        QTRY_COMPARE(server->received, ApopLine(user, Stamp(greeting), password));
        server->Send("+OK maildrop ready\r\n");
        QTRY_COMPARE(client->received, before + UserReply + "+OK maildrop ready\r\n");
    }

    void StartRetr() {
        server->received.clear();
        client->Send("RETR 1\r\n");
        QTRY_COMPARE(server->received, QByteArray("RETR 1\r\n"));
        QCOMPARE(relay->LatestSession()->ExpectedReplies(), QList<ReplyKind>{ReplyKind::Retr});
    }

    // A message cut off somewhere in its body: a header block, then random body blocks that
    // never hold "R", so no block the relay reads can begin with "Return-Path" by chance.
    static QList<QByteArray> MessageBlocks(quint32 seed, qsizetype bodySize) {
        QRandomGenerator random(seed);
        QList<QByteArray> blocks{"+OK message follows\r\n",
                                 "Return-Path: <a@faults.test>\r\nSubject: cut off\r\n"
                                 "Content-Type: text/plain; charset=us-ascii\r\n\r\n"};
        while (bodySize > 0) {
            const qsizetype size = qMin<qsizetype>(bodySize, 1 + random.bounded(300 * 1024));
            blocks.append(RandomBytes(random, size, 'R', 'r'));
            bodySize -= size;
        }
        return blocks;
    }

private Q_SLOTS:
    void init() {
        SetUpRig();
        // Nothing is tagged: the test compares the forwarded bytes with what the server sent.
        settings->tagUnlabelled = false;
    }

    void cleanup() { TearDownRig(); }

    void serverClosingInTheMiddleOfARetrDeliversEverythingItSent_data() {
        QTest::addColumn<bool>("clientReadsLate");
        QTest::newRow("client reading") << false;
        // The close is reported only after what waits behind the paused read has gone out.
        QTest::newRow("client reading late") << true;
    }
    void serverClosingInTheMiddleOfARetrDeliversEverythingItSent() {
        QFETCH(bool, clientReadsLate);
        ConnectClient(1);
        LogIn(1, "alice", "wonderland");
        StartRetr();
        const QByteArray before = client->received;
        if (clientReadsLate) {
            client->socket.setReadBufferSize(64 * 1024);
            client->SetReading(false);
        }

        QByteArray sent;
        // Late: more than all buffers on the way hold, so the close comes behind a paused read.
        for (const QByteArray& block : MessageBlocks(11, (clientReadsLate ? 24 : 6) * MiB)) {
            server->Send(block);
            sent += block;
        }
        server->CloseConnection();
        if (clientReadsLate) {
            QTRY_VERIFY(relay->LatestSession()->ServerSide().ReadPaused());
            QVERIFY(LatestGreeted(*relay)); // the close has not been handled yet
            client->socket.setReadBufferSize(0);
            client->SetReading(true);
        }

        QTRY_COMPARE_WITH_TIMEOUT(client->received.size(), before.size() + sent.size(), BigTimeout);
        QCOMPARE(FirstDifference(client->received, before + sent), -1);
        // Then the client's connection ends too, as the server's did.
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(client->received.size(), before.size() + sent.size());
        QVERIFY(!LatestGreeted(*relay));
        QCOMPARE(relay->SessionCount(), 0);
        QTRY_VERIFY(!view->visible);
        QVERIFY(RelayIdle(*relay));
        QCOMPARE(view->Picture(), TrayPicture::Idle);
    }

    void clientClosingInTheMiddleOfARetrLeavesNothingForTheNextClient_data() {
        QTest::addColumn<bool>("clientStalled");
        QTest::newRow("client reading") << false;
        // The relay holds a backlog for the client and has stopped reading from the server.
        QTest::newRow("client stalled") << true;
    }
    void clientClosingInTheMiddleOfARetrLeavesNothingForTheNextClient() {
        QFETCH(bool, clientStalled);
        ConnectClient(1);
        LogIn(1, "alice", "wonderland");
        StartRetr();
        if (clientStalled) {
            client->socket.setReadBufferSize(64 * 1024);
            client->SetReading(false);
        }
        const QList<QByteArray> blocks = MessageBlocks(12, 8 * MiB);
        for (const QByteArray& block : blocks) {
            server->Send(block);
        }
        if (clientStalled) {
            QTRY_VERIFY(relay->LatestSession()->ServerSide().ReadPaused());
        } else {
            QTRY_VERIFY(client->received.size() > 2 * MiB);
        }
        const QPointer<QTcpSocket> firstServerSide = server->connection;
        client->socket.abort();
        QTRY_VERIFY(RelayIdle(*relay));
        QCOMPARE(relay->SessionCount(), 0); // nobody left to wait for
        server->Send("late block for nobody\r\n");

        // A fresh server connection, a fresh greeting and a login built from it.
        ConnectClient(2);
        QCOMPARE(server->connections, 2);
        QCOMPARE(relay->LatestSession()->Login().greeting, Greeting(2));
        QTRY_VERIFY(firstServerSide.isNull());
        LogIn(2, "bob", "builder");
        server->received.clear();
        client->Send("STAT\r\n");
        QTRY_COMPARE(server->received, QByteArray("STAT\r\n"));
        QCOMPARE(client->received, Greeting(2) + UserReply + "+OK maildrop ready\r\n");
    }

    void unresolvableServerNameIsReportedAndTheClientReleased() {
        // The reserved top-level domain never resolves, and fails without asking the network.
        settings->DefaultAccount().host = QStringLiteral("mail.quorlin.invalid");
        QSignalSpy failed(relay.get(), &Relay::ServerConnectFailed);
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        ExpectClientReleased(failed, "-ERR Cannot connect to the mail server: Host not found.\r\n");
        QCOMPARE(server->connections, 0);

        settings->DefaultAccount().host = QStringLiteral("127.0.0.1");
        ConnectClient(2);
        LogIn(2, "carol", "secret");
    }

    void serverLeavingBeforeTheGreetingReleasesTheClient_data() {
        QTest::addColumn<bool>("reset");
        QTest::newRow("orderly close") << false;
        QTest::newRow("reset") << true;
    }
    void serverLeavingBeforeTheGreetingReleasesTheClient() {
        QFETCH(bool, reset);
        // A server that accepts and goes at once, as one shutting down or refusing service.
        const auto leave = connect(&server->server, &QTcpServer::newConnection, this, [&] {
            reset ? server->connection->abort() : server->connection->disconnectFromHost();
        });
        server->greeting.clear();
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(server->connections, 1);
        QTRY_COMPARE_WITH_TIMEOUT(
            client->received,
            QByteArray("-ERR The mail server sent no greeting: it closed the connection.\r\n"),
            2000);
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(RelayIdle(*relay));
        QTRY_VERIFY(!view->visible);

        disconnect(leave);
        ConnectClient(2);
        LogIn(2, "dave", "pw");
    }

    // Every wait before the login is bounded, and each stall is told in its own words: to the
    // client, and in the report the window and the log show.
    void preLoginStallEndsWithinItsBound_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("reply");
        const int none = int(SecurityMode::None), tls = int(SecurityMode::Tls),
                  stls = int(SecurityMode::StartTls);
        QTest::newRow("connection never accepted")
            << none << QByteArray("no accept")
            << QByteArray("-ERR Cannot connect to the mail server: no answer within 0.3 "
                          "seconds.\r\n");
        QTest::newRow("plain mode at a TLS port: no greeting")
            << none << QByteArray("silent")
            << QByteArray("-ERR The mail server sent no greeting: none came within 0.3 "
                          "seconds.\r\n");
        QTest::newRow("STLS: no greeting")
            << stls << QByteArray("silent")
            << QByteArray("-ERR No secure connection to the mail server: the mail server sent no "
                          "greeting within 0.3 seconds.\r\n");
        QTest::newRow("STLS: CAPA unanswered")
            << stls << QByteArray("greets")
            << QByteArray("-ERR No secure connection to the mail server: the mail server sent no "
                          "whole reply to CAPA within 0.3 seconds.\r\n");
        QTest::newRow("STLS: STLS unanswered")
            << stls << QByteArray("offers STLS")
            << QByteArray("-ERR No secure connection to the mail server: the mail server sent no "
                          "reply to STLS within 0.3 seconds.\r\n");
        QTest::newRow("TLS: handshake stalled")
            << tls << QByteArray("silent")
            << QByteArray("-ERR No secure connection to the mail server: the TLS handshake did "
                          "not finish within 0.3 seconds.\r\n");
        QTest::newRow("TLS: handshake dropped")
            << tls << QByteArray("closes")
            << QByteArray("-ERR No secure connection to the mail server: the mail server closed "
                          "the connection during the TLS handshake.\r\n");
    }
    void preLoginStallEndsWithinItsBound() {
        QFETCH(int, mode);
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, reply);
        // A listening socket whose queue of connections to accept is full takes no more.
        const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto closeListening = qScopeGuard([listening] { ::close(listening); });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listening, reinterpret_cast<sockaddr*>(&address), length) == 0);
        QVERIFY(::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        QVERIFY(::listen(listening, 0) == 0);
        std::vector<std::unique_ptr<QTcpSocket>> fillers;
        QTcpServer stalling;
        if (server == "no accept") {
            for (int i = 0; i < 3; ++i) {
                fillers.push_back(std::make_unique<QTcpSocket>());
                fillers.back()->connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
            }
            QTest::qWait(100);
        } else {
            QVERIFY(stalling.listen(QHostAddress::LocalHost, 0));
            connect(&stalling, &QTcpServer::newConnection, this, [&] {
                QTcpSocket* connection = stalling.nextPendingConnection();
                if (server != "silent" && server != "closes") {
                    connection->write("+OK ready\r\n");
                }
                connect(connection, &QTcpSocket::readyRead, connection, [connection, server] {
                    const QByteArray got = connection->readAll();
                    if (server == "closes") {
                        connection->abort();
                    } else if (server == "offers STLS" && got == "CAPA\r\n") {
                        connection->write("+OK\r\nSTLS\r\n.\r\n");
                    }
                });
            });
        }
        relay.reset();
        StartRelay(server == "no accept" ? ntohs(address.sin_port) : stalling.serverPort());
        settings->DefaultAccount().security = SecurityMode(mode);
        settings->serverStepTimeoutMs = 300;
        QSignalSpy cannotConnect(relay.get(), &Relay::ServerConnectFailed);
        QSignalSpy noGreeting(relay.get(), &Relay::ServerSentNoGreeting);
        QSignalSpy noTls(relay.get(), &Relay::ServerTlsFailed);
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());

        QTRY_COMPARE_WITH_TIMEOUT(client->received, reply, 5000);
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(cannotConnect.count() + noGreeting.count() + noTls.count(), 1);
        // The report names the same step as the client's reply.
        QString reason;
        if (!cannotConnect.isEmpty()) {
            reason = cannotConnect.first().at(2).toString();
        } else if (!noGreeting.isEmpty()) {
            reason = noGreeting.first().at(2).toString();
        } else {
            reason = noTls.first().first().value<TlsFailure>().reason;
        }
        QVERIFY2(reply.contains(": " + reason.toUtf8() + ".\r\n"), qPrintable(reason));
        QVERIFY(RelayIdle(*relay));
    }

    void endlessLineIsNeverHeldWhole_data() {
        QTest::addColumn<bool>("fromClient");
        QTest::newRow("from the client") << true;
        QTest::newRow("from the server") << false;
    }
    void endlessLineIsNeverHeldWhole() {
        QFETCH(bool, fromClient);
        ConnectClient(1);
        QRandomGenerator random(21);
        // No CR and no LF at all, so no line end.
        QByteArray line = RandomBytes(random, 10 * MiB, '\r', 'x');
        std::replace(line.begin(), line.end(), '\n', 'y');
        const QList<QByteArray> list1Before = view->serverLog;

        if (fromClient) {
            // A command line: refused once it is longer than any command, and dropped up to
            // its end, however much more comes; nothing of it reaches the server or the log.
            server->received.clear();
            client->received.clear();
            client->Send(line);
            QTRY_COMPARE_WITH_TIMEOUT(client->received, QByteArray(LineTooLongReply), BigTimeout);
            client->Send("\r\nNOOP\r\n");
            QTRY_COMPARE(server->received, QByteArray("NOOP\r\n"));
            QCOMPARE(view->clientLog, QList<QByteArray>{"NOOP"});
            QCOMPARE(client->received, QByteArray(LineTooLongReply));
        } else {
            // Relayed as it comes; the log shows it in pieces of the gathering bound, every
            // byte of it.
            client->received.clear();
            server->Send(line);
            QTRY_COMPARE_WITH_TIMEOUT(client->received.size(), line.size(), BigTimeout);
            QCOMPARE(FirstDifference(client->received, line), -1);
            server->Send("\r\n+OK\r\n");
            QTRY_VERIFY(client->received.endsWith(line.right(10) + "\r\n+OK\r\n"));
            QList<QByteArray> pieces;
            for (qsizetype at = 0; at < line.size(); at += 256 * 1024) {
                pieces.append(line.mid(at, 256 * 1024));
            }
            QCOMPARE(view->serverLog, list1Before + pieces + QList<QByteArray>({"", "+OK"}));
        }
    }

    void binaryGarbageIsRelayedByteForByte_data() {
        QTest::addColumn<bool>("fromClient");
        QTest::addColumn<bool>("inRetr");
        QTest::addColumn<quint32>("seed");
        for (const quint32 seed : {1u, 2u, 3u}) {
            QTest::addRow("from the client, seed %u", seed) << true << false << seed;
            QTest::addRow("from the server, seed %u", seed) << false << false << seed;
            QTest::addRow("from the server in a RETR, seed %u", seed) << false << true << seed;
        }
    }
    void binaryGarbageIsRelayedByteForByte() {
        QFETCH(bool, fromClient);
        QFETCH(bool, inRetr);
        QFETCH(quint32, seed);
        ConnectClient(1);
        if (inRetr) {
            StartRetr();
        }
        server->received.clear();
        client->received.clear();
        QRandomGenerator random(seed);
        QByteArray sent;
        const int blocks = 4 + random.bounded(8);
        for (int i = 0; i < blocks; ++i) {
            // Sizes from one byte to several reads' worth, so blocks get cut and joined.
            const qsizetype size = 1 + random.bounded(i % 2 ? 600 * 1024 : 2048);
            QByteArray block =
                fromClient ? RandomClientBytes(random, size) : RandomBytes(random, size, 'R', 'r');
            if (fromClient && i == blocks - 1) {
                block.append('\n'); // the client's last line complete, so that it goes on
            }
            fromClient ? client->Send(block) : server->Send(block);
            sent += block;
            if (random.bounded(2)) {
                QByteArray& arrived = fromClient ? server->received : client->received;
                // The client's lines go on once complete: up to its last line end so far.
                const qsizetype complete = fromClient ? sent.lastIndexOf('\n') + 1 : sent.size();
                QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), complete, BigTimeout);
            }
        }
        QByteArray& arrived = fromClient ? server->received : client->received;
        QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), sent.size(), BigTimeout);
        QCOMPARE(FirstDifference(arrived, sent), -1);
        QVERIFY(client->Connected());
        QVERIFY(server->Connected());
    }

    // The log shows a long reply's lines once the reply has gone on; a server that stops in the
    // middle of one must not keep those already relayed out of the log.
    void linesOfAReplyCutShortByAPauseAreLogged() {
        ConnectClient(1);
        LogIn(1, "alice", "secret");
        server->received.clear();
        client->Send("UIDL\r\n");
        QTRY_COMPARE(server->received, QByteArray("UIDL\r\n"));
        const qsizetype before = view->serverLog.size();
        server->Send("+OK\r\n1 a\r\n2 b\r\n");
        QTRY_VERIFY(client->received.endsWith("2 b\r\n"));
        QTRY_COMPARE(view->serverLog.mid(before), (QList<QByteArray>{"+OK", "1 a", "2 b"}));
        server->Send(".\r\n");
        QTRY_COMPARE(view->serverLog.mid(before), (QList<QByteArray>{"+OK", "1 a", "2 b", "."}));
    }

    void loginWordsFollowedByGarbageDoNotStopTheRelay() {
        ConnectClient(1);
        QRandomGenerator random(31);
        QList<QByteArray> arrivals{"USER",
                                   "PASS",
                                   "USER ",
                                   "PASS ",
                                   "USER \r",
                                   "PASS \r\n\r\n",
                                   "PASS  \r\nUSER  \r\nPASS\r\n",
                                   "AUTH",
                                   "AUTH X\r\nAUTH"};
        for (int i = 0; i < 24; ++i) {
            arrivals.append((i % 2 ? "PASS " : "USER ") + RandomBytes(random, random.bounded(600)));
        }
        qsizetype answered = 0; // lines the server has answered
        for (int i = 0; i < arrivals.size(); ++i) {
            const int arrivalsBefore = view->pictures.count(TrayPicture::ClientData);
            client->Send(arrivals[i]);
            QTRY_VERIFY(view->pictures.count(TrayPicture::ClientData) > arrivalsBefore);
            // Whatever the arrival left open ends here, and the marker after it is a command.
            const QByteArray marker = "NOOP " + QByteArray::number(i) + "\r\n";
            client->Send("\r\n" + marker);
            QTRY_VERIFY2(server->received.endsWith(marker), arrivals[i].toHex().constData());
            // The server answers every line it got, so that the relay's own replies behind
            // them come through too.
            const qsizetype lines = server->received.count('\n');
            server->Send(QByteArray("+OK\r\n").repeated(lines - answered));
            answered = lines;
            QVERIFY(client->Connected());
        }
        QVERIFY(relay->LatestSession()->Upstream().CanSend());
        server->Send("+OK still here\r\n");
        QTRY_VERIFY(client->received.endsWith("+OK still here\r\n"));
        client->received.clear();
        LogIn(1, "erin", "clean");
    }
};

QTEST_GUILESS_MAIN(tst_RelayFaults)
#include "tst_relay_faults.moc"
