// The program's memory under clients that never read their replies, pipelining commands or
// retrieving large messages: it stays bounded while they are served, and goes back near where it
// started once they have left.
// Resident memory is read from /proc: a bound, not a timing.
#include "support/LoopbackPeers.h"
#include "support/ProcessUsage.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr qint64 MiB = 1024; // in KiB, as /proc gives it
constexpr int Clients = 10;

// A mail server as quick as a real one with pipelined commands: it answers the lines it has
// read in one write, "+OK" to each, a message of 20 MB to RETR, and says goodbye to QUIT.
class QuickServer : public QObject {
public:
    QuickServer() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* connection = server.nextPendingConnection()) {
                ++open;
                connect(connection, &QTcpSocket::readyRead, connection,
                        [connection] { Answer(*connection); });
                connect(connection, &QTcpSocket::disconnected, this, [this, connection] {
                    --open;
                    connection->deleteLater();
                });
                connection->write("+OK ready <1.2@quick.test>\r\n");
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QTcpServer server;
    int open = 0;

private:
    static void Answer(QTcpSocket& connection) {
        const QByteArray received = connection.readAll();
        if (received.endsWith("QUIT\r\n")) {
            connection.write("+OK bye\r\n");
            connection.disconnectFromHost();
        } else if (received.startsWith("RETR")) {
            static const QByteArray message = "Return-Path: <a@quick.test>\r\n\r\n" +
                                              (QByteArray(998, 'x') + "\r\n").repeated(20000);
            connection.write("+OK " + QByteArray::number(message.size()) + " octets\r\n" + message +
                             ".\r\n");
        } else if (connection.state() == QAbstractSocket::ConnectedState) {
            connection.write(QByteArray("+OK\r\n").repeated(received.count('\n')));
        }
    }
};

} // namespace

class tst_HeadlessMemory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void clientsThatNeverReadKeepMemoryBounded_data() {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<bool>("again"); // sent again and again, as fast as they are taken
        QTest::newRow("pipelining NOOP") << QByteArray("NOOP\r\n").repeated(10000) << true;
        QTest::newRow("a 20 MB message each") << QByteArray("RETR 1\r\n") << false;
    }
    void clientsThatNeverReadKeepMemoryBounded() {
        QFETCH(QByteArray, commands);
        QFETCH(bool, again);
        QuickServer server;
        QTemporaryDir configDir;
        const quint16 listenPort = FreeLoopbackPort();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.setStandardOutputFile(QProcess::nullDevice());
        quorlin.start(qEnvironmentVariable("QUORLIN_BINARY"),
                      {"--headless", "--server", "127.0.0.1", "--server-port",
                       QString::number(server.server.serverPort()), "--listen-address", "127.0.0.1",
                       "--listen-port", QString::number(listenPort), "--config-dir",
                       configDir.path()});
        QVERIFY(quorlin.waitForStarted());
        const QString pid = QString::number(quorlin.processId());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += quorlin.readAllStandardError()).contains("listening"),
                                 20000);

        // One short conversation first, so that what every conversation needs is there.
        {
            TestClient warmUp;
            warmUp.ConnectTo(listenPort);
            QTRY_VERIFY(warmUp.received.endsWith(">\r\n"));
            warmUp.Send("NOOP\r\nQUIT\r\n");
            QTRY_VERIFY(warmUp.received.endsWith("+OK bye\r\n"));
        }
        QTRY_COMPARE(server.open, 0);
        const qint64 atStart = ResidentKiBOf(pid);

        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < Clients; ++i) {
            clients.push_back(std::make_unique<TestClient>());
            // Small kernel buffers too: most of what waits for them waits in Quorlin.
            clients.back()->socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                                   64 * 1024);
            clients.back()->ConnectTo(listenPort);
        }
        for (const auto& client : clients) {
            QTRY_VERIFY(client->received.endsWith(">\r\n"));
            client->socket.setReadBufferSize(64 * 1024);
            client->SetReading(false);
            client->Send(commands);
        }
        QTimer writer;
        connect(&writer, &QTimer::timeout, this, [&] {
            for (const auto& client : clients) {
                // The test's own sending side stays small; the rest waits in the kernel.
                if (client->socket.bytesToWrite() < 256 * 1024) {
                    client->socket.write(commands);
                }
            }
        });
        if (again) {
            writer.start(5);
        }
        qint64 most = 0;
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 4000) {
            QTest::qWait(100);
            most = qMax(most, ResidentKiBOf(pid));
        }
        writer.stop();

        for (const auto& client : clients) {
            client->socket.abort();
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.open, 0, 20000);
        qint64 after = 0;
        const bool returned =
            QTest::qWaitFor([&] { return (after = ResidentKiBOf(pid)) < atStart + 8 * MiB; }, 5000);
        qInfo("resident %lld KiB at start, %lld at most, %lld after the clients left", atStart,
              most, after);
        QVERIFY(most < 64 * MiB);
        QVERIFY(returned);
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }
};

QTEST_GUILESS_MAIN(tst_HeadlessMemory)
#include "tst_headless_memory.moc"
