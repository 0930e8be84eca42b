// The headless log on a standard output that nobody reads: the relay goes on, memory stays
// bounded, and what could not wait is counted once the reader is back.
#include "headless/HeadlessView.h"
#include "platform/LogOutput.h"
#include "support/LoopbackPeers.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A pipe whose reading end only this test holds, never blocking it.
struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            readEnd = ends[0];
            writeEnd = ends[1];
            ::fcntl(readEnd, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pipe() {
        CloseWriteEnd();
        ::close(readEnd);
    }
    void CloseWriteEnd() {
        if (writeEnd >= 0) {
            ::close(writeEnd);
            writeEnd = -1;
        }
    }
    // What has arrived since the last call.
    QByteArray ReadAvailable() const {
        QByteArray bytes;
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(readEnd, buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, got);
        }
        return bytes;
    }
};

// The log's lines, with the lines the notices say were dropped counted in.
struct LogCount {
    QMap<QByteArray, qint64> lines;
    qint64 dropped = 0;
    int notices = 0;
    QByteArrayList other;
};

LogCount Count(const QByteArray& log) {
    static const QRegularExpression notice(QStringLiteral("^quorlin: dropped (\\d+) lines"));
    LogCount count;
    QByteArrayList lines = log.split('\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (const QByteArray& line : lines) {
        const QRegularExpressionMatch match = notice.match(QString::fromLatin1(line));
        if (match.hasMatch()) {
            count.dropped += match.captured(1).toLongLong();
            ++count.notices;
        } else {
            ++count.lines[line];
        }
    }
    return count;
}

} // namespace

class tst_HeadlessLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void boundedAndCounted() {
        Pipe pipe;
        QVERIFY(pipe.readEnd >= 0);
        const QByteArray line = QByteArray(99, 'x') + '\n';
        {
            LogOutput output(pipe.writeEnd);
            for (int i = 0; i < 40000; ++i) {
                output.Append(line + line);
            }
            QVERIFY(output.Pending() <= LogOutput::DefaultBound);

            QByteArray log;
            QTRY_VERIFY((log += pipe.ReadAvailable()).contains("quorlin: dropped"));
            QTRY_COMPARE(output.Pending(), 0);
            output.Append("last\n");
            QTRY_VERIFY((log += pipe.ReadAvailable()).endsWith("last\n"));

            const LogCount count = Count(log);
            QCOMPARE(count.notices, 1);
            QCOMPARE(count.lines.value(line.chopped(1)) + count.dropped, 80000);
            QCOMPARE(count.lines.value("last"), 1);
            QCOMPARE(count.lines.size(), 2);
        }
    }

    // A file takes every write whole: a block of lines beyond the bound loses none of them.
    void fileTakesWhatIsBeyondTheBound() {
        QTemporaryDir dir;
        const QString path = dir.filePath("log");
        const QByteArray lines = QByteArray("S: 7 uid-0000007\n").repeated(100);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            LogOutput output(file.handle(), 200);
            output.Append(lines);
            output.Append("S: .\n");
            QCOMPARE(output.Pending(), 0);
        }
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), lines + "S: .\n");
    }

    // Lines from the wire are code page 932; the terminal reads its own encoding (UTF-8 here).
    void japaneseLinesReachTheLogInTheTerminalsEncoding() {
        Pipe pipe;
        QVERIFY(pipe.readEnd >= 0);
        HeadlessView view(pipe.writeEnd);
        view.AddServerLines("+OK \x93\xfa\x96\x7b\r\n+OK plain\r\n");
        view.AddClientLines("\x83\x65\x83\x58\x83\x67\r\n");
        QByteArray log;
        QTRY_COMPARE(log += pipe.ReadAvailable(), QByteArray("S: +OK \xe6\x97\xa5\xe6\x9c\xac\n"
                                                             "S: +OK plain\n"
                                                             "C: \xe3\x83\x86\xe3\x82\xb9"
                                                             "\xe3\x83\x88\n"));
    }

    // A server must not clear or retitle the user's terminal through the log.
    void controlBytesAreEscaped() {
        Pipe pipe;
        QVERIFY(pipe.readEnd >= 0);
        HeadlessView view(pipe.writeEnd);
        const char lines[] = "+OK \x1b[2J\x1b]0;owned\x07\rready\r\n"
                             "\x93\xfa\x96\x7b\x1b[0m\x7f\x00\n\tend\r\n";
        view.AddServerLines(QByteArrayView(lines, sizeof lines - 1));
        QByteArray log;
        QTRY_COMPARE(log += pipe.ReadAvailable(),
                     QByteArray("S: +OK \\x1b[2J\\x1b]0;owned\\x07\\rready\n"
                                "S: \xe6\x97\xa5\xe6\x9c\xac\\x1b[0m\\x7f\\x00\\n\tend\n"));
    }

    // 8,000 NOOP round trips through the program while nobody reads its log.
    void unreadLogNeverStopsTheRelay() {
        const QByteArray reply = "+OK " + QByteArray(196, 'n') + "\r\n";
        constexpr int RoundTrips = 8000;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server, reply] {
            QTcpSocket* connection = server.nextPendingConnection();
            connection->write("+OK ready\r\n");
            QObject::connect(connection, &QTcpSocket::readyRead, connection, [connection, reply] {
                while (connection->canReadLine()) {
                    const QByteArray command = connection->readLine();
                    connection->write(command == "STAT\r\n" ? QByteArray("+OK 0 0\r\n") : reply);
                }
            });
        });

        Pipe pipe;
        QVERIFY(pipe.readEnd >= 0);
        QTemporaryDir configDir;
        const quint16 listenPort = FreeLoopbackPort();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.setStandardOutputFile(QProcess::nullDevice());
        const int logEnd = pipe.writeEnd;
        quorlin.setChildProcessModifier([logEnd] { ::dup2(logEnd, STDOUT_FILENO); });
        quorlin.start(qEnvironmentVariable("QUORLIN_BINARY"),
                      {"--headless", "--server", "127.0.0.1", "--server-port",
                       QString::number(server.serverPort()), "--listen-port",
                       QString::number(listenPort), "--listen-address", "127.0.0.1", "--config-dir",
                       configDir.path()});
        QVERIFY(quorlin.waitForStarted());
        pipe.CloseWriteEnd();
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("listening"));

        // An event loop of its own: polling in steps would cost milliseconds per round trip.
        TestClient client;
        QEventLoop loop;
        int replies = 0;
        QObject::connect(&client.socket, &QTcpSocket::readyRead, &client, [&] {
            while (client.socket.canReadLine()) {
                client.socket.readLine();
                if (++replies <= RoundTrips) {
                    client.Send("NOOP\r\n");
                } else {
                    loop.quit();
                }
            }
        });
        client.reading = false;
        client.ConnectTo(listenPort);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(replies, RoundTrips + 1);

        // Once read again, the log says what it had to drop, and new lines follow.
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += pipe.ReadAvailable()).contains("quorlin: dropped"), 20000);
        client.Send("STAT\r\n");
        QTRY_VERIFY((log += pipe.ReadAvailable()).endsWith("C: STAT\nS: +OK 0 0\n"));
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());

        const LogCount count = Count(log);
        QVERIFY(count.notices >= 1);
        QVERIFY(count.dropped > 0);
        QCOMPARE(count.lines.value("S: +OK ready") + count.lines.value("C: NOOP") +
                     count.lines.value("S: " + reply.chopped(2)) + count.dropped,
                 1 + 2 * RoundTrips);
        QCOMPARE(count.lines.size(), 5); // nothing cut or mixed up
    }
};

QTEST_GUILESS_MAIN(tst_HeadlessLog)
#include "tst_headless_log.moc"
