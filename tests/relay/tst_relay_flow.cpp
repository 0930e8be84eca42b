// Flow control over real loopback sockets: when one side stops reading, the relay must stop
// reading from the other side instead of buffering the difference, and pick up again without
// losing, doubling or reordering a byte once the slow side reads.
#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "support/RandomBytes.h"
#include "support/RelayRig.h"
#include "support/TestCertificates.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {
constexpr qsizetype MiB = 1024 * 1024;
constexpr qsizetype Total = 64 * MiB;
// What the relay may hold for the slow side: its high-water mark twice over, and one read.
constexpr qint64 Bound = 2 * Relay::FlowHighWater + Connection::ReadBufferLimit;
constexpr qint64 SlowReadBuffer = 64 * 1024;
const QByteArray Greeting = "+OK ready <1.2@flow.test>\r\n";
} // namespace

class tst_RelayFlow : public QObject, RelayRig {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        SetUpRig();
        server->greeting = Greeting;
        settings->tagUnlabelled = false;
    }

    void cleanup() { TearDownRig(); }

    void slowReaderHoldsTheSenderBack_data() {
        QTest::addColumn<bool>("fromServer");
        QTest::newRow("server to slow client, in a RETR") << true;
        QTest::newRow("client to slow server") << false;
    }
    void slowReaderHoldsTheSenderBack() {
        QFETCH(bool, fromServer);
        if (!fromServer) {
            server->readBufferSize = SlowReadBuffer;
            server->reading = false;
        }
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, Greeting);
        if (fromServer) {
            client->Send("RETR 1\r\n");
            QTRY_COMPARE(server->received, QByteArray("RETR 1\r\n"));
            client->received.clear();
            client->socket.setReadBufferSize(SlowReadBuffer);
            client->SetReading(false);
        }
        RelaySession& session = *relay->LatestSession();
        Connection& reader = fromServer ? session.ServerSide() : session.ClientSide();
        Connection& writer = fromServer ? session.ClientSide() : session.ServerSide();
        QTcpSocket& sender = fromServer ? *server->connection : client->socket;
        QByteArray& arrived = fromServer ? client->received : server->received;

        // The most the relay held for the slow side, looked at right after each block it relayed.
        qint64 peak = 0;
        const auto watch = connect(&reader, &Connection::Arrived, this,
                                   [&] { peak = qMax(peak, writer.BytesToWrite()); });
        const auto unwatch = qScopeGuard([&] { disconnect(watch); });

        QRandomGenerator random(41);
        // No "R" from the server, no "S" from the client: nothing is tagged or taken for a login.
        QByteArray data =
            fromServer ? RandomBytes(random, Total, 'R', 'r') : RandomClientBytes(random, Total);
        data.back() = '\n'; // the client's last line complete, so that it goes on
        fromServer ? server->Send(data) : client->Send(data);

        // Wait until nothing moves any more: every buffer on the way is as full as it gets.
        qint64 lastProgress = -1;
        QElapsedTimer unchangedFor;
        const auto stalled = [&] {
            const qint64 progress = sender.bytesToWrite() + writer.BytesToWrite() + arrived.size();
            if (progress != lastProgress) {
                lastProgress = progress;
                unchangedFor.start();
                return false;
            }
            return unchangedFor.elapsed() >= 200;
        };
        QTRY_VERIFY_WITH_TIMEOUT(stalled(), 20000);
        qInfo("stalled: %lld bytes left the sender, the relay holds %lld, peak %lld",
              Total - sender.bytesToWrite(), writer.BytesToWrite(), peak);
        QVERIFY(reader.ReadPaused());
        QVERIFY2(writer.BytesToWrite() <= Bound, QByteArray::number(writer.BytesToWrite()));
        QVERIFY2(peak <= Bound, QByteArray::number(peak));
        // The sender still holds back much of it: the kernel's buffers on the way are all that
        // was taken from it, not the whole transfer.
        QVERIFY2(sender.bytesToWrite() >= 8 * MiB, QByteArray::number(sender.bytesToWrite()));
        QCOMPARE(arrived.size(), 0);

        if (fromServer) {
            client->socket.setReadBufferSize(0);
            client->SetReading(true);
        } else {
            server->connection->setReadBufferSize(0);
            server->SetReading(true);
        }
        QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), Total, 30000);
        QCOMPARE(FirstDifference(arrived, data), -1);
        QVERIFY2(peak <= Bound, QByteArray::number(peak));
        QTRY_VERIFY(!reader.ReadPaused());
        QCOMPARE(writer.BytesToWrite(), 0);
    }

    // The client sends more than the server takes and leaves: the relay must still pass on all
    // of it once the server reads, and notice the close only after the last byte.
    void clientLeavingWhileHeldBackStillDeliversEverything() {
        server->readBufferSize = SlowReadBuffer;
        server->reading = false;
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, Greeting);
        QRandomGenerator random(42);
        QByteArray data = RandomClientBytes(random, 24 * MiB);
        data.back() = '\n';
        client->Send(data);
        client->socket.disconnectFromHost(); // Qt closes once all of it is written
        QTRY_VERIFY(relay->LatestSession()->ClientSide().ReadPaused());
        QVERIFY(relay->LatestSession()->ClientSide().IsOpen());
        QVERIFY(!relay->LatestSession()->ClientSide().PeerFinished());

        server->connection->setReadBufferSize(0);
        server->SetReading(true);
        QTRY_COMPARE_WITH_TIMEOUT(server->received.size(), data.size(), 30000);
        QCOMPARE(FirstDifference(server->received, data), -1);
        // The client's end follows its last byte to the server, whose close ends it all.
        QTRY_VERIFY(server->peerClosed);
        QTRY_VERIFY(RelayIdle(*relay));
        QCOMPARE(view->Picture(), TrayPicture::Idle);
        QCOMPARE(relay->SessionCount(), 0);
    }

    // The relay's own answers waiting behind server replies are bytes for the client too: a
    // client that pipelines commands answered here, without reading, is read no further.
    void ownAnswersWaitingBehindRepliesHoldTheClientBack() {
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, Greeting);
        // 1.75 MiB of commands; the server answers none, so 3 MiB of answers wait behind them.
        constexpr int Pairs = 128 * 1024;
        client->Send(QByteArray("NOOP\r\nUSER a\r\n").repeated(Pairs));
        QTRY_VERIFY(relay->LatestSession()->ClientSide().ReadPaused());
        QCOMPARE(client->received, Greeting);
        QVERIFY(server->received.count("NOOP") < Pairs);
    }

    // A client that reads slowly, or pauses longer than the idle timeout, with RETR, DELE and
    // QUIT pipelined: it is not idle while the message is on its way to it, gets the whole
    // message and the replies behind it in order, and the server hears QUIT (and deletes) only
    // once nothing of the replies before it waits in Quorlin.
    void slowReaderGetsEverythingBeforeTheServerHearsQuit_data() {
        QTest::addColumn<qint64>("chunk");
        QTest::addColumn<int>("everyMs");
        QTest::addColumn<bool>("tls");
        QTest::newRow("reading 3.2 MB/s") << qint64(64 * 1024) << 20 << false;
        QTest::newRow("pausing 0.7 s at a time") << qint64(1024 * 1024) << 700 << false;
        QTest::newRow("inside STLS, reading 3.2 MB/s") << qint64(64 * 1024) << 20 << true;
    }
    void slowReaderGetsEverythingBeforeTheServerHearsQuit() {
        QFETCH(qint64, chunk);
        QFETCH(int, everyMs);
        QFETCH(bool, tls);
        settings->idleTimeoutMs = 300;
        TestCertificates certificates;
        if (tls) {
            QVERIFY2(certificates.Make(), certificates.log.constData());
            settings->clientIdentity = {certificates.Path(u"good"_s),
                                        {certificates.Certificate(u"good"_s)},
                                        certificates.Key(u"good"_s)};
        }
        client = std::make_unique<TestClient>();
        // A fixed receive buffer: the kernel's buffers on the way hold a few MB, not all of it.
        client->socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 128 * 1024);
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, Greeting);
        if (tls) {
            client->Send("STLS\r\n");
            QTRY_COMPARE(client->received, Greeting + StlsAcceptedReply);
            client->received = Greeting;
            QSslConfiguration configuration = client->socket.sslConfiguration();
            configuration.setCaCertificates({certificates.Certificate(u"ca"_s)});
            client->socket.setSslConfiguration(configuration);
            client->socket.startClientEncryption();
            QTRY_VERIFY(client->socket.isEncrypted());
        }
        client->socket.setReadBufferSize(chunk);
        client->SetReading(false);

        const QByteArray message = "Return-Path: <a@flow.test>\r\nSubject: big\r\n\r\n" +
                                   (QByteArray(998, 'x') + "\r\n").repeated(6000);
        const QByteArray retrReply =
            "+OK " + QByteArray::number(message.size()) + " octets\r\n" + message + ".\r\n";
        // Bytes of the replies before QUIT not yet through the relay when QUIT reached the server:
        // still with the server, or held by the relay for the client.
        qint64 heldWhenQuitCame = -1;
        connect(server->connection, &QTcpSocket::readyRead, this, [&] {
            for (const char* command : {"RETR 1\r\n", "DELE 1\r\n", "QUIT\r\n"}) {
                if (!server->received.startsWith(command)) {
                    continue;
                }
                server->received.remove(0, qstrlen(command));
                if (qstrcmp(command, "RETR 1\r\n") == 0) {
                    server->Send(retrReply);
                } else if (qstrcmp(command, "DELE 1\r\n") == 0) {
                    server->Send("+OK deleted\r\n");
                } else {
                    heldWhenQuitCame = server->connection->bytesToWrite() +
                                       relay->LatestSession()->ClientSide().BytesToWrite();
                    server->Send("+OK bye\r\n");
                    server->CloseConnection();
                }
            }
        });
        QTimer reader;
        connect(&reader, &QTimer::timeout, this,
                [&] { client->received += client->socket.read(chunk); });
        reader.start(everyMs);
        client->Send("RETR 1\r\nDELE 1\r\nQUIT\r\n");

        QTRY_VERIFY_WITH_TIMEOUT(client->received.endsWith("+OK bye\r\n"), 20000);
        const QByteArray expected = Greeting + retrReply + "+OK deleted\r\n+OK bye\r\n";
        QCOMPARE(client->received.size(), expected.size());
        QCOMPARE(FirstDifference(client->received, expected), -1);
        QCOMPARE(heldWhenQuitCame, 0);
    }

    // A client's end reaches the server only behind every command it sent, whether they wait
    // for the greeting or for a slow server to read them.
    void halfCloseFollowsTheCommandsBeforeTheGreeting() {
        const QByteArray greeting = "+OK ready <1896.697170952@dbc.mtview.ca.us>\r\n";
        server->greeting.clear();
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_VERIFY(server->Connected());
        client->Send("USER mrose\r\nPASS tanstaaf\r\nSTAT\r\n");
        QVERIFY(::shutdown(int(client->socket.socketDescriptor()), SHUT_WR) == 0);
        QTRY_VERIFY(relay->LatestSession()->ClientSide().PeerFinished());
        server->Send(greeting);
        QTRY_VERIFY(server->peerClosed);
        QCOMPARE(server->received,
                 QByteArray("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\n"));
    }
    void halfCloseFollowsTheCommandsHeldForASlowServer() {
        server->readBufferSize = SlowReadBuffer;
        server->reading = false;
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, Greeting);
        // Until the kernel takes no more toward the server and the relay holds some itself.
        const QByteArray line = "NOOP " + QByteArray(4000, 'n') + "\r\n";
        QByteArray sent;
        while (relay->LatestSession()->ServerSide().BytesToWrite() == 0 && sent.size() < 64 * MiB) {
            client->Send(line.repeated(16));
            sent += line.repeated(16);
            QTRY_COMPARE(view->clientLog.size(), sent.size() / line.size());
        }
        QVERIFY(!relay->LatestSession()->ClientSide().ReadPaused());
        QVERIFY(::shutdown(int(client->socket.socketDescriptor()), SHUT_WR) == 0);
        QTRY_VERIFY(relay->LatestSession()->ClientSide().PeerFinished());
        server->connection->setReadBufferSize(0);
        server->SetReading(true);
        QTRY_VERIFY_WITH_TIMEOUT(server->peerClosed, 20000);
        QCOMPARE(server->received.size(), sent.size());
        QCOMPARE(FirstDifference(server->received, sent), -1);
    }
};

QTEST_GUILESS_MAIN(tst_RelayFlow)
#include "tst_relay_flow.moc"
