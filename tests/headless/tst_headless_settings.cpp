// The headless program's settings over its run: SIGHUP reads them again, and the log file.
#include "support/FileBytes.h"
#include "support/LoopbackPeers.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QByteArray Login = "USER mrose\r\nPASS tanstaaf\r\n";

// Quorlin without a window, its standard error gathered.
class Headless {
public:
    explicit Headless(const QStringList& arguments) {
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(qEnvironmentVariable("QUORLIN_BINARY"),
                      QStringList{"--headless"} + arguments);
    }
    ~Headless() {
        process.terminate();
        process.waitForFinished();
    }
    // Waits until standard error has said `text` `times` times.
    bool Said(const QByteArray& text, int times = 1) {
        return QTest::qWaitFor(
            [&] { return (err += process.readAllStandardError()).count(text) >= times; }, 20000);
    }
    QProcess process;
    QByteArray err;
};

// A client logged in through Quorlin to `server`, its login's reply read.
bool LoggedIn(TestClient& client, quint16 port, ScriptedServer& server) {
    client.ConnectTo(port);
    if (!QTest::qWaitFor([&] { return client.received == server.greeting; }, 20000)) {
        return false;
    }
    client.Send(Login);
    if (!QTest::qWaitFor([&] { return server.received.startsWith("APOP mrose "); }, 20000)) {
        return false;
    }
    server.received.clear();
    server.Send("+OK mrose has 1 message\r\n");
    return QTest::qWaitFor([&] { return client.received.endsWith("1 message\r\n"); }, 20000);
}

QByteArray Options(quint16 serverPort, quint16 listenPort) {
    return "[Server]\nPort=" + QByteArray::number(serverPort) +
           "\n[Listen]\nAddress=127.0.0.1\nPort=" + QByteArray::number(listenPort) + "\n";
}

} // namespace

class tst_HeadlessSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A client in the middle of a RETR finishes with the server and blocked list it started
    // with; the next client gets those on disk and the new port; a broken file changes nothing.
    void sighupReadsTheSettingsAgain() {
        QTemporaryDir folder;
        ScriptedServer first;
        first.greeting = "+OK first <1.1@first>\r\n";
        ScriptedServer second;
        second.greeting = "+OK second <2.2@second>\r\n";
        const quint16 oldPort = FreeLoopbackPort();
        const QString options = folder.filePath(QStringLiteral("Quorlin_Options.ini"));
        const QString blocked = folder.filePath(QStringLiteral("Quorlin_BatList.ini"));
        WriteFileBytes(folder.filePath(QStringLiteral("Quorlin.ini")), "127.0.0.1\r\n");
        WriteFileBytes(blocked, "GB2312\r\n");
        WriteFileBytes(options, Options(first.Port(), oldPort));
        Headless quorlin({"--config-dir", folder.path()});
        QVERIFY(quorlin.Said("listening"));

        TestClient old;
        QVERIFY(LoggedIn(old, oldPort, first));
        old.Send("RETR 1\r\n");
        QTRY_COMPARE(first.received, QByteArray("RETR 1\r\n"));
        first.Send("+OK 99 octets\r\nReturn-Path: <a@example.org>\r\n");

        const quint16 newPort = FreeLoopbackPort();
        WriteFileBytes(blocked, "big5\r\n");
        WriteFileBytes(options, Options(second.Port(), newPort));
        QCOMPARE(::kill(pid_t(quorlin.process.processId()), SIGHUP), 0);
        QVERIFY(quorlin.Said("settings reloaded"));

        const QByteArray mail = "Subject: Hi\r\nContent-Type: text/plain; charset=gb2312\r\n\r\n"
                                "body\r\n.\r\n";
        first.Send(mail);
        QTRY_VERIFY(old.received.endsWith("Return-Path: <a@example.org>\r\n"
                                          "Subject: [VudOdirOro]Hi\r\n"
                                          "Content-Type: text/plain; charset=gb2312\r\n\r\n"
                                          "body\r\n.\r\n"));

        TestClient next;
        QVERIFY(LoggedIn(next, newPort, second));
        next.Send("RETR 1\r\n");
        QTRY_COMPARE(second.received, QByteArray("RETR 1\r\n"));
        second.Send("+OK 99 octets\r\nReturn-Path: <a@example.org>\r\n" + mail);
        QTRY_VERIFY(next.received.endsWith("Return-Path: <a@example.org>\r\n" + mail));
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, oldPort);
        QVERIFY(!refused.waitForConnected(2000));

        WriteFileBytes(options, "[Server\nPort=" + QByteArray::number(first.Port()) + "\n");
        QCOMPARE(::kill(pid_t(quorlin.process.processId()), SIGHUP), 0);
        QVERIFY(quorlin.Said("the settings were not reloaded"));
        QVERIFY2(quorlin.err.contains("line 1: [Server: neither a [Section] nor a Key=Value line"),
                 quorlin.err.constData());
        TestClient after;
        QVERIFY(LoggedIn(after, newPort, second));
    }

    // The log file has the lines of standard output, each behind its local time, moved aside
    // at the size the options file sets, without the password.
    void logFileRotatedWithoutThePassword() {
        QTemporaryDir folder;
        ScriptedServer server;
        server.greeting = "+OK ready <1.2@x>\r\n";
        const QString log = folder.filePath(QStringLiteral("quorlin.log"));
        WriteFileBytes(folder.filePath(QStringLiteral("Quorlin_Options.ini")),
                       "[Log]\nMaxBytes=300\nKeptFiles=2\n");
        const quint16 port = FreeLoopbackPort();
        {
            Headless quorlin({"--server", "127.0.0.1", "--server-port",
                              QString::number(server.Port()), "--listen-address", "127.0.0.1",
                              "--listen-port", QString::number(port), "--config-dir", folder.path(),
                              "--log-file", log});
            QVERIFY(quorlin.Said("listening"));
            TestClient client;
            QVERIFY(LoggedIn(client, port, server));
            for (int i = 0; i < 5; ++i) {
                client.Send("NOOP\r\n");
                QTRY_VERIFY(server.received.endsWith("NOOP\r\n"));
                server.Send("+OK " + QByteArray(50, char('a' + i)) + "\r\n");
                QTRY_VERIFY(client.received.endsWith(QByteArray(50, char('a' + i)) + "\r\n"));
            }
        }
        QCOMPARE(QDir(folder.path()).entryList({QStringLiteral("quorlin.log*")}),
                 QStringList({"quorlin.log", "quorlin.log.1", "quorlin.log.2"}));
        QByteArray all;
        for (const char* suffix : {".2", ".1", ""}) {
            const QByteArray part = ReadFileBytes(log + suffix);
            QVERIFY(part.size() <= 300);
            all += part;
        }
        QVERIFY(!all.contains("tanstaaf"));
        const QRegularExpression stamped(
            QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d ([SC]: .*)$)"));
        QStringList lines;
        for (const QByteArray& line : all.split('\n')) {
            const QRegularExpressionMatch match = stamped.match(QString::fromLatin1(line));
            if (!line.isEmpty()) {
                QVERIFY2(match.hasMatch(), line.constData());
                lines << match.captured(1);
            }
        }
        QCOMPARE(lines.first(5),
                 QStringList({"S: +OK ready <1.2@x>", "C: USER mrose", "C: PASS ******",
                              "S: +OK mrose has 1 message", "C: NOOP"}));
        QCOMPARE(lines.size(), 14);
    }

    // A log file that cannot be written is told once, and the relay goes on.
    void unwritableLogFileToldOnce() {
        QTemporaryDir folder;
        ScriptedServer server;
        server.greeting = "+OK ready <1.2@x>\r\n";
        const quint16 port = FreeLoopbackPort();
        Headless quorlin({"--server", "127.0.0.1", "--server-port", QString::number(server.Port()),
                          "--listen-address", "127.0.0.1", "--listen-port", QString::number(port),
                          "--config-dir", folder.path(), "--log-file",
                          folder.filePath(QStringLiteral("no/such/folder/quorlin.log"))});
        QVERIFY(quorlin.Said("listening"));
        for (int i = 0; i < 2; ++i) {
            TestClient client;
            server.received.clear();
            QVERIFY(LoggedIn(client, port, server));
        }
        QVERIFY(quorlin.Said("cannot be written"));
        QCOMPARE(quorlin.err.count("cannot be written"), 1);
    }
};

QTEST_GUILESS_MAIN(tst_HeadlessSettings)
#include "tst_headless_settings.moc"
