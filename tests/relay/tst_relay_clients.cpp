// Several mail clients at once through one relay, over real loopback sockets, against a server
// that keeps every connection apart and checks each APOP login itself: each client must get
// exactly its own bytes, a client beyond the limit is refused, and no way a conversation ends
// disturbs another or stops the relay from serving the next.
#include "relay/ClientCommand.h"
#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "support/FakeRelayView.h"
#include "support/LoopbackPeers.h"
#include "support/MailboxServer.h"
#include "support/ProcessUsage.h"
#include "support/RelayRig.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>
#include <set>
#include <sys/socket.h>

namespace {

QByteArray User(int i) {
    return "user" + QByteArray::number(i);
}

// Different sizes and contents, so that a block of one ending up with another shows.
QByteArray Message(int i, int lines) {
    QByteArray message = "Return-Path: <" + User(i) + "@mailbox.test>\r\nSubject: for " + User(i) +
                         "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    for (int line = 0; line < lines + 37 * i; ++line) {
        message += User(i) + " line " + QByteArray::number(line) + "\r\n";
    }
    return message;
}

QByteArray LoggedIn(int i) {
    return "+OK " + User(i) + "'s maildrop ready\r\n";
}

using Clients = std::vector<std::unique_ptr<TestClient>>;

} // namespace

class tst_RelayClients : public QObject {
    Q_OBJECT

    std::unique_ptr<MailboxServer> server;
    std::unique_ptr<FakeRelayView> view;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Relay> relay;
    quint16 port = 0;

    void StartRelay(int maxClients, int idleTimeoutMs = DefaultIdleTimeoutMs) {
        settings->maxClients = maxClients;
        settings->idleTimeoutMs = idleTimeoutMs;
        relay = std::make_unique<Relay>(*view, *settings);
        QVERIFY(relay->StartListening().Ok());
        port = relay->ListeningPort();
    }

    void AddMailboxes(int count, int lines) {
        for (int i = 0; i < count; ++i) {
            server->passwords[User(i)] = "pw" + QByteArray::number(i);
            server->messages[User(i)] = Message(i, lines);
        }
    }

    // Clients 0 .. count-1 connected at once, each greeted.
    Clients Connect(int count) {
        Clients clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<TestClient>());
            clients.back()->ConnectTo(port);
        }
        for (const auto& client : clients) {
            [&] { QTRY_VERIFY(client->received.endsWith(">\r\n")); }();
        }
        return clients;
    }

    // Client i logs in as user i; the server must have found its APOP line right.
    void LogIn(TestClient& client, int i) {
        const QByteArray before = client.received;
        client.Send("USER " + User(i) + "\r\n");
        QTRY_COMPARE(client.received, before + UserReply);
        client.Send("PASS pw" + QByteArray::number(i) + "\r\n");
        QTRY_COMPARE(client.received, before + UserReply + LoggedIn(i));
    }

    static QByteArray GreetingOf(const TestClient& client) {
        return client.received.left(client.received.indexOf("\r\n") + 2);
    }

private Q_SLOTS:
    void init() {
        server = std::make_unique<MailboxServer>();
        view = std::make_unique<FakeRelayView>();
        settings = std::make_unique<Settings>(LoopbackSettings(server->Port()));
        settings->tagUnlabelled = false;
    }

    void cleanup() {
        relay.reset();
        settings.reset();
        view.reset();
        server.reset();
    }

    void clientsAtOnceGetOnlyTheirOwnBytes_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("two") << 2;
        QTest::newRow("twenty") << 20;
    }
    void clientsAtOnceGetOnlyTheirOwnBytes() {
        QFETCH(int, count);
        StartRelay(count);
        AddMailboxes(count, 2000);
        const Clients clients = Connect(count);
        QCOMPARE(relay->SessionCount(), count);
        QCOMPARE(server->greeted, count);
        QVERIFY(view->visible);

        // Each step goes out to all before any answer is awaited, so the conversations overlap.
        for (int i = 0; i < count; ++i) {
            clients[i]->Send("USER " + User(i) + "\r\n");
        }
        for (int i = 0; i < count; ++i) {
            QTRY_VERIFY(clients[i]->received.endsWith(UserReply));
            clients[i]->Send("PASS pw" + QByteArray::number(i) + "\r\n");
        }
        for (int i = 0; i < count; ++i) {
            QTRY_VERIFY(clients[i]->received.endsWith(LoggedIn(i)));
            clients[i]->Send("RETR 1\r\n");
        }
        for (int i = 0; i < count; ++i) {
            QTRY_VERIFY(clients[i]->received.endsWith("\r\n.\r\n"));
            clients[i]->Send("QUIT\r\n");
        }
        for (int i = 0; i < count; ++i) {
            QTRY_COMPARE(clients[i]->socket.state(), QAbstractSocket::UnconnectedState);
            const QByteArray greeting = GreetingOf(*clients[i]);
            MailboxServer::Connection* connection = server->ByStamp(greeting);
            QVERIFY(connection);
            QCOMPARE(connection->user, User(i)); // its own APOP line, on its own connection
            QCOMPARE(clients[i]->received, greeting + UserReply + LoggedIn(i) +
                                               MailboxServer::RetrReply(server->messages[User(i)]) +
                                               "+OK bye\r\n");
        }
        QTRY_COMPARE(relay->SessionCount(), 0);
        QTRY_VERIFY(!view->visible);
        QCOMPARE(view->Picture(), TrayPicture::Idle);

        // Every client's lines were logged under its own number while all were served.
        const QRegularExpression userLine(QStringLiteral("^\\[(\\d+)\\] USER user(\\d+)$"));
        std::set<int> numbers;
        std::set<int> users;
        for (const QByteArray& line : std::as_const(view->clientLog)) {
            const auto match = userLine.match(QString::fromLatin1(line));
            if (match.hasMatch()) {
                numbers.insert(match.captured(1).toInt());
                users.insert(match.captured(2).toInt());
            }
        }
        QCOMPARE(int(numbers.size()), count);
        QCOMPARE(int(users.size()), count);
        QCOMPARE(*numbers.rbegin(), count);
    }

    void clientBeyondTheLimitIsRefusedAndNobodyElseDisturbed() {
        StartRelay(2);
        AddMailboxes(2, 10);
        Clients clients = Connect(2);
        LogIn(*clients[0], 0);

        TestClient third;
        third.ConnectTo(port);
        QTRY_COMPARE(third.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(third.received, TooManyClientsReply(2));
        QVERIFY(third.received.startsWith("-ERR"));
        QCOMPARE(server->greeted, 2);

        for (int i = 0; i < 2; ++i) {
            const QByteArray before = clients[i]->received;
            clients[i]->Send("NOOP\r\n");
            QTRY_COMPARE(clients[i]->received, before + "+OK\r\n");
        }
        // Once one has gone, the next is served.
        clients[0]->Send("QUIT\r\n");
        QTRY_COMPARE(relay->SessionCount(), 1);
        Clients next = Connect(1);
        QCOMPARE(server->greeted, 3);
    }

    void clientDroppingMidRetrLeavesTheOthersIntact() {
        StartRelay(10);
        AddMailboxes(3, 60000); // about 1.5 MB each
        const Clients clients = Connect(3);
        for (int i = 0; i < 3; ++i) {
            LogIn(*clients[i], i);
            clients[i]->Send("RETR 1\r\n");
        }
        QTRY_VERIFY(clients[1]->received.size() > 200000);
        MailboxServer::Connection* dropped = server->ByStamp(GreetingOf(*clients[1]));
        clients[1]->socket.abort();
        for (int i : {0, 2}) {
            const QByteArray expected = GreetingOf(*clients[i]) + UserReply + LoggedIn(i) +
                                        MailboxServer::RetrReply(server->messages[User(i)]);
            QTRY_COMPARE_WITH_TIMEOUT(clients[i]->received.size(), expected.size(), 20000);
            QCOMPARE(clients[i]->received, expected);
            QVERIFY(clients[i]->Connected());
        }
        // The dropped client's server connection went too, without a QUIT.
        QTRY_VERIFY(dropped->peerClosed);
        QVERIFY(!dropped->quit);
        QCOMPARE(relay->SessionCount(), 2);
    }

    // A client polling several accounts connects again the moment the last one ended.
    void backToBackSessionsAreNeverRefused() {
        StartRelay(10);
        int refused = 0;
        for (int i = 0; i < 30; ++i) {
            TestClient client;
            connect(&client.socket, &QTcpSocket::errorOccurred, this,
                    [&](QAbstractSocket::SocketError error) {
                        refused += error == QAbstractSocket::ConnectionRefusedError ? 1 : 0;
                    });
            client.ConnectTo(port);
            QTRY_VERIFY(client.received.endsWith(">\r\n") || refused > 0);
            QCOMPARE(refused, 0);
            client.Send("QUIT\r\n");
            QTRY_VERIFY(client.received.endsWith("+OK bye\r\n"));
            client.socket.disconnectFromHost();
        }
        QCOMPARE(server->greeted, 30);
    }

    // The port stays taken from start to end: another program cannot slip in between clients
    // and be handed the next client's USER and PASS.
    void anotherProgramCannotTakeThePort() {
        StartRelay(10);
        const Clients clients = Connect(1);
        QTcpServer rival;
        QVERIFY(!rival.listen(QHostAddress::LocalHost, port));
        clients[0]->Send("QUIT\r\n");
        QTRY_COMPARE(relay->SessionCount(), 0);
        QVERIFY(!rival.listen(QHostAddress::LocalHost, port));
        QVERIFY(RelayIdle(*relay));
    }

    void passWithoutUserNeverLogsInUnderAnotherClientsName() {
        StartRelay(10);
        AddMailboxes(1, 10);
        Clients clients = Connect(2);
        LogIn(*clients[0], 0);
        const QByteArray greeting = clients[1]->received;
        clients[1]->Send("PASS pw0\r\n");
        QTRY_COMPARE(clients[1]->received, greeting + NoUserReply);
        QVERIFY(server->ByStamp(greeting)->received.isEmpty());
        QVERIFY(server->ByStamp(greeting)->user.isEmpty());

        // Nor under a name from a conversation that has ended.
        clients[0]->Send("QUIT\r\n");
        clients[1]->Send("QUIT\r\n");
        QTRY_COMPARE(relay->SessionCount(), 0);
        clients = Connect(1);
        const QByteArray later = clients[0]->received;
        clients[0]->Send("PASS pw0\r\n");
        QTRY_COMPARE(clients[0]->received, later + NoUserReply);
        QVERIFY(server->ByStamp(later)->user.isEmpty());
    }

    void idleClientIsLetGoWithItsServerConnection() {
        StartRelay(10, 400);
        const Clients clients = Connect(2);
        MailboxServer::Connection* idle = server->ByStamp(GreetingOf(*clients[0]));
        // The second one keeps talking for three timeouts and is not let go meanwhile.
        QTimer talk;
        int answers = 0;
        connect(&talk, &QTimer::timeout, this, [&] { clients[1]->Send("NOOP\r\n"); });
        talk.start(100);
        QTRY_COMPARE_WITH_TIMEOUT(clients[0]->socket.state(), QAbstractSocket::UnconnectedState,
                                  3000);
        QTRY_VERIFY(idle->peerClosed);
        QVERIFY(!idle->quit); // no QUIT: the server deletes nothing
        QTest::qWait(800);
        QVERIFY(clients[1]->Connected());
        answers = int(clients[1]->received.count("+OK\r\n"));
        QVERIFY2(answers >= 10, QByteArray::number(answers));
        talk.stop();
        QTRY_COMPARE_WITH_TIMEOUT(clients[1]->socket.state(), QAbstractSocket::UnconnectedState,
                                  3000);
        Connect(1); // still serving
    }

    // Replies Quorlin gives itself count for the flow control like relayed ones: a client
    // that sends USER lines without ever reading is read no faster than it reads.
    void clientThatNeverReadsKeepsMemoryBounded() {
        StartRelay(10);
        const Clients clients = Connect(1);
        TestClient& client = *clients[0];
        client.socket.setReadBufferSize(64 * 1024);
        client.SetReading(false);
        QByteArray lines;
        for (int i = 0; i < 4000; ++i) {
            lines += "USER x\r\n";
        }
        qint64 sent = 0;
        QTimer writer;
        connect(&writer, &QTimer::timeout, this, [&] {
            // The test's own sending side stays small; the rest waits in the kernel.
            if (client.socket.bytesToWrite() < 1024 * 1024) {
                client.socket.write(lines);
                sent += lines.size();
            }
        });
        const qint64 residentBefore = ResidentKiB();
        writer.start(1);
        qint64 mostHeld = 0;
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 4000) {
            QTest::qWait(50);
            mostHeld = qMax(mostHeld, relay->LatestSession()->ClientSide().BytesToWrite());
        }
        writer.stop();
        const qint64 residentAfter = ResidentKiB();
        qInfo("sent %lld bytes of USER lines; the relay held at most %lld bytes for the client; "
              "resident %lld -> %lld KiB",
              sent, mostHeld, residentBefore, residentAfter);
        QVERIFY2(sent > 4 * 1024 * 1024, QByteArray::number(sent)); // replies beyond all buffers
        QVERIFY(relay->LatestSession()->ClientSide().ReadPaused());
        QVERIFY2(mostHeld <= 2 * Relay::FlowHighWater, QByteArray::number(mostHeld));
        QVERIFY2(residentAfter - residentBefore < 32 * 1024,
                 QByteArray::number(residentAfter - residentBefore));
    }

    // However a conversation ends, the others go on and the next client is served.
    void everyEndingLeavesTheRelayServing_data() {
        QTest::addColumn<QByteArray>("ending");
        for (const char* ending :
             {"quit", "client abort mid-RETR", "client half-close", "client close without QUIT",
              "server reset mid-RETR", "server close mid-RETR"}) {
            QTest::newRow(ending) << QByteArray(ending);
        }
    }
    void everyEndingLeavesTheRelayServing() {
        QFETCH(QByteArray, ending);
        StartRelay(10);
        AddMailboxes(2, 40000);
        const Clients clients = Connect(2);
        TestClient& observer = *clients[0];
        TestClient& ended = *clients[1];
        LogIn(observer, 0);
        LogIn(ended, 1);
        MailboxServer::Connection* upstream = server->ByStamp(GreetingOf(ended));
        const bool midRetr = ending.endsWith("mid-RETR");
        if (midRetr) {
            ended.Send("RETR 1\r\n");
            QTRY_VERIFY(ended.received.size() > 100000);
        }
        if (ending == "quit") {
            ended.Send("QUIT\r\n");
        } else if (ending == "client abort mid-RETR") {
            ended.socket.abort();
        } else if (ending == "client half-close") {
            ended.Send("NOOP\r\n");
            QVERIFY(::shutdown(int(ended.socket.socketDescriptor()), SHUT_WR) == 0);
            QTRY_VERIFY(ended.received.endsWith("+OK\r\n"));
        } else if (ending == "client close without QUIT") {
            ended.socket.disconnectFromHost();
        } else if (ending == "server reset mid-RETR") {
            upstream->socket->abort();
        } else {
            upstream->socket->disconnectFromHost();
        }
        QTRY_VERIFY(upstream->peerClosed || !upstream->socket);
        QTRY_COMPARE(ended.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(relay->SessionCount(), 1);
        QCOMPARE(upstream->quit, ending == "quit");

        const QByteArray before = observer.received;
        observer.Send("NOOP\r\n");
        QTRY_COMPARE(observer.received, before + "+OK\r\n");
        const Clients next = Connect(1);
        LogIn(*next[0], 1);
        QCOMPARE(relay->SessionCount(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_RelayClients)
#include "tst_relay_clients.moc"
