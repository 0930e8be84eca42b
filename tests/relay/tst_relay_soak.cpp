// A long run of short mail checks through the relay over real loopback sockets: each one
// connects, gets its own greeting, logs in with USER and PASS (which the server checks as APOP),
// quits, and both sides close. The relay must not leak descriptors or memory over them.
#include "relay/ClientCommand.h"
#include "relay/Relay.h"
#include "support/FakeRelayView.h"
#include "support/LoopbackPeers.h"
#include "support/MailboxServer.h"
#include "support/ProcessUsage.h"
#include "support/RelayRig.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <sys/socket.h>

namespace {

QByteArray Stamp(int session) {
    return "<" + QByteArray::number(session) + ".1@soak.test>";
}
QByteArray Password(int session) {
    return "secret" + QByteArray::number(session);
}

// Drives sessions one after another, each step started by the event that ends the one before,
// so a session costs a few loopback round trips and no polling.
class SessionRunner : public QObject {
    Q_OBJECT

public:
    SessionRunner(Relay& relay, ScriptedServer& server) : relay(relay), server(server) {
        // Connected after the helpers' own handlers, so these see what those have collected.
        connect(&server.server, &QTcpServer::newConnection, this, [this] {
            connect(this->server.connection.data(), &QTcpSocket::readyRead, this,
                    &SessionRunner::ServerRead);
        });
        connect(&relay, &Relay::SessionsChanged, this, &SessionRunner::MaybeNext);
    }

    void Run(int sessions) {
        remaining = sessions;
        Start();
    }

    int session = 0;
    int logins = 0; // APOP lines the server found right
    QByteArray failure;

Q_SIGNALS:
    void Finished();

private:
    enum class Step { Greeting, UserReply, LoggedIn, Bye, Closing, Idle };

    void Start() {
        if (remaining == 0 || !failure.isEmpty()) {
            step = Step::Idle;
            Q_EMIT Finished();
            return;
        }
        --remaining;
        ++session;
        server.greeting = "+OK ready " + Stamp(session) + "\r\n";
        if (client) {
            client->socket.disconnect(this);
            client.release()->deleteLater();
        }
        client = std::make_unique<TestClient>();
        connect(&client->socket, &QTcpSocket::readyRead, this, &SessionRunner::ClientRead);
        connect(&client->socket, &QTcpSocket::disconnected, this, &SessionRunner::MaybeNext);
        step = Step::Greeting;
        client->ConnectTo(relay.ListeningPort());
    }

    void Fail(const QByteArray& why) {
        if (failure.isEmpty()) {
            failure = "session " + QByteArray::number(session) + ": " + why;
        }
        step = Step::Idle;
        Q_EMIT Finished();
    }

    // Waits for the whole of the expected reply, then compares it.
    bool Got(const QByteArray& expected) {
        if (client->received.size() < expected.size()) {
            return false;
        }
        if (client->received != expected) {
            Fail("expected " + expected.toPercentEncoding() + ", got " +
                 client->received.toPercentEncoding());
            return false;
        }
        client->received.clear();
        return true;
    }

    void ClientRead() {
        switch (step) {
        case Step::Greeting:
            if (Got(server.greeting)) {
                step = Step::UserReply;
                client->Send("USER soak\r\n");
            }
            break;
        case Step::UserReply:
            if (Got(UserReply)) {
                step = Step::LoggedIn;
                client->Send("PASS " + Password(session) + "\r\n");
            }
            break;
        case Step::LoggedIn:
            if (Got("+OK maildrop ready\r\n")) {
                step = Step::Bye;
                client->Send("QUIT\r\n");
            }
            break;
        case Step::Bye:
            if (Got("+OK bye\r\n")) {
                step = Step::Closing;
                client->socket.disconnectFromHost();
                MaybeNext();
            }
            break;
        case Step::Closing:
        case Step::Idle:
            Fail("unexpected " + client->received.toPercentEncoding());
            break;
        }
    }

    // The server side: checks the APOP digest for this session's stamp and password.
    void ServerRead() {
        for (qsizetype end; (end = server.received.indexOf("\r\n")) >= 0;) {
            const QByteArray line = server.received.left(end);
            server.received.remove(0, end + 2);
            const QByteArray digest = QCryptographicHash::hash(Stamp(session) + Password(session),
                                                               QCryptographicHash::Md5)
                                          .toHex();
            if (line == "APOP soak " + digest) {
                ++logins;
                server.Send("+OK maildrop ready\r\n");
            } else if (line == "QUIT") {
                server.Send("+OK bye\r\n");
                server.CloseConnection();
            } else {
                server.Send("-ERR unexpected\r\n");
                Fail("server got " + line.toPercentEncoding());
            }
        }
    }

    // The next session starts once both sides have closed and the relay listens again.
    void MaybeNext() {
        if (step != Step::Closing) {
            return;
        }
        if (client->socket.state() != QAbstractSocket::UnconnectedState || !RelayIdle(relay)) {
            return;
        }
        if (LatestGreeted(relay)) {
            Fail("the greeting of a closed server connection is still taken as current");
            return;
        }
        step = Step::Idle;
        // Not from inside the relay's or the socket's own signal.
        QMetaObject::invokeMethod(this, &SessionRunner::Start, Qt::QueuedConnection);
    }

    Relay& relay;
    ScriptedServer& server;
    std::unique_ptr<TestClient> client;
    int remaining = 0;
    Step step = Step::Idle;
};

} // namespace

class tst_RelaySoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void thousandSessionsLeakNothing() {
        ScriptedServer server;
        FakeRelayView view;
        const Settings settings = LoopbackSettings(server.Port());
        Relay relay(view, settings);
        QVERIFY(relay.StartListening().Ok());
        SessionRunner runner(relay, server);
        QSignalSpy finished(&runner, &SessionRunner::Finished);

        // Warm-up: whatever Qt and the allocator set up once is in place before measuring.
        runner.Run(50);
        QVERIFY(finished.wait(20000));
        QVERIFY2(runner.failure.isEmpty(), runner.failure.constData());
        const int descriptorsBefore = OpenFileDescriptorCount();
        const qint64 residentBefore = ResidentKiB();
        QVERIFY(descriptorsBefore > 0 && residentBefore > 0);

        runner.Run(950);
        QVERIFY(finished.wait(45000));
        QVERIFY2(runner.failure.isEmpty(), runner.failure.constData());
        QCOMPARE(runner.session, 1000);
        QCOMPARE(runner.logins, 1000);
        QCOMPARE(server.connections, 1000);

        const int descriptorsAfter = OpenFileDescriptorCount();
        const qint64 residentAfter = ResidentKiB();
        qInfo("descriptors %d -> %d, resident %lld KiB -> %lld KiB", descriptorsBefore,
              descriptorsAfter, residentBefore, residentAfter);
        QVERIFY2(descriptorsAfter <= descriptorsBefore + 2,
                 QByteArray::number(descriptorsAfter - descriptorsBefore));
        QVERIFY2(residentAfter - residentBefore <= 3 * 1024,
                 QByteArray::number(residentAfter - residentBefore) + " KiB more");
    }

    // Rounds of six clients at once, each conversation ending another way: QUIT, the client
    // dropping mid-RETR, the client half-closing after QUIT, the client leaving without QUIT,
    // the server resetting mid-RETR, and the idle timeout.
    void overlappingClientsEndingEveryWayLeakNothing() {
        MailboxServer server;
        FakeRelayView view;
        Settings settings = LoopbackSettings(server.Port());
        settings.idleTimeoutMs = 300;
        Relay relay(view, settings);
        QVERIFY(relay.StartListening().Ok());
        constexpr int Clients = 6;
        QByteArray message;
        while (message.size() < 400 * 1024) {
            message += "a line of a long message\r\n";
        }
        for (int i = 0; i < Clients; ++i) {
            server.passwords["u" + QByteArray::number(i)] = "p" + QByteArray::number(i);
            server.messages["u" + QByteArray::number(i)] = message;
        }

        const auto round = [&] {
            std::vector<std::unique_ptr<TestClient>> clients;
            for (int i = 0; i < Clients; ++i) {
                clients.push_back(std::make_unique<TestClient>());
                clients.back()->ConnectTo(relay.ListeningPort());
            }
            const auto all = [&](auto done) {
                return std::all_of(clients.begin(), clients.end(),
                                   [&](const auto& client) { return done(*client); });
            };
            QTRY_VERIFY(all([](TestClient& c) { return c.received.endsWith(">\r\n"); }));
            QCOMPARE(relay.SessionCount(), Clients);
            for (int i = 0; i < Clients - 1; ++i) {
                const QByteArray n = QByteArray::number(i);
                clients[i]->Send("USER u" + n + "\r\nPASS p" + n + "\r\n");
            }
            QTRY_VERIFY(std::all_of(clients.begin(), clients.end() - 1, [](const auto& c) {
                return c->received.endsWith("maildrop ready\r\n");
            }));
            clients[1]->Send("RETR 1\r\n");
            clients[4]->Send("RETR 1\r\n");
            QTRY_VERIFY(clients[1]->received.size() > 64 * 1024 &&
                        clients[4]->received.size() > 64 * 1024);
            clients[0]->Send("QUIT\r\n");
            clients[1]->socket.abort();
            clients[2]->Send("NOOP\r\nQUIT\r\n");
            ::shutdown(int(clients[2]->socket.socketDescriptor()), SHUT_WR);
            clients[3]->socket.disconnectFromHost();
            server.ByStamp(clients[4]->received.left(60))->socket->abort();
            QTRY_VERIFY(all([](TestClient& c) {
                return c.socket.state() == QAbstractSocket::UnconnectedState;
            }));
            QTRY_COMPARE(relay.SessionCount(), 0);
            QTRY_COMPARE(server.OpenConnections(), 0);
            QVERIFY(clients[0]->received.endsWith("maildrop ready\r\n+OK bye\r\n"));
            QVERIFY(clients[2]->received.endsWith("maildrop ready\r\n+OK\r\n+OK bye\r\n"));
            // The server's own records go, so that only the relay's memory is measured.
            QTRY_VERIFY(server.server.findChildren<QTcpSocket*>().isEmpty());
            server.connections.clear();
            view.pictures.clear();
        };

        for (int warmUp = 0; warmUp < 10; ++warmUp) {
            round();
        }
        QTest::qWait(200); // lingering closes finish
        const int descriptorsBefore = OpenFileDescriptorCount();
        const qint64 residentBefore = ResidentKiB();
        for (int measured = 0; measured < 30; ++measured) {
            round();
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        QTest::qWait(200);
        const int descriptorsAfter = OpenFileDescriptorCount();
        const qint64 residentAfter = ResidentKiB();
        qInfo("overlapping: descriptors %d -> %d, resident %lld KiB -> %lld KiB", descriptorsBefore,
              descriptorsAfter, residentBefore, residentAfter);
        QVERIFY2(descriptorsAfter <= descriptorsBefore + 2,
                 QByteArray::number(descriptorsAfter - descriptorsBefore));
        QVERIFY2(residentAfter - residentBefore <= 4 * 1024,
                 QByteArray::number(residentAfter - residentBefore) + " KiB more");
    }
};

QTEST_GUILESS_MAIN(tst_RelaySoak)
#include "tst_relay_soak.moc"
