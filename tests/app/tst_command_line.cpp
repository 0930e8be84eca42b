// The quorlin program itself, run as a child process: options, start-up failures and the
// headless relay serving a real client.
#include "QuorlinVersion.h"
#include "support/LoopbackPeers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// How the start-up line names 127.0.0.1, which holds ::1 too where the machine has it.
QByteArray LoopbackShown() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0) ? "127.0.0.1 and ::1" : "127.0.0.1";
}

QString Binary() {
    return qEnvironmentVariable("QUORLIN_BINARY");
}

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs quorlin to its end with standard input from /dev/null (no terminal to ask on).
Finished Run(const QStringList& arguments, const QString& program = Binary(),
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Finished result;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Starts quorlin headless in front of a server on this machine, listening on a free loopback
// port, and waits for its start-up line; the port, or 0 when the line never came.
quint16 StartHeadless(QProcess& quorlin, const QStringList& arguments) {
    const quint16 listenPort = FreeLoopbackPort();
    quorlin.setStandardInputFile(QProcess::nullDevice());
    quorlin.start(Binary(), QStringList{"--headless", "--listen-address", "127.0.0.1",
                                        "--listen-port", QString::number(listenPort)} +
                                arguments);
    QByteArray err;
    const bool started = QTest::qWaitFor(
        [&] { return (err += quorlin.readAllStandardError()).contains("listening"); }, 20000);
    return started ? listenPort : 0;
}

// Connects the client until it is greeted: the program may not listen yet.
bool Greeted(TestClient& client, quint16 port, const QByteArray& greeting) {
    if (client.socket.state() == QAbstractSocket::UnconnectedState) {
        client.ConnectTo(port);
    }
    return client.received == greeting;
}

constexpr QFileDevice::Permissions OpenToAll =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

// Running as an ordinary user from root: the build folder may sit where that user cannot reach
// (a home folder of mode 700), so the user gets a copy in a folder anyone may enter but only
// root may write.
QString BinaryForNobody(const QTemporaryDir& folder) {
    const QString copy = folder.filePath(QStringLiteral("quorlin"));
    QFile::remove(copy);
    if (!QFile::copy(Binary(), copy) || !QFile::setPermissions(folder.path(), OpenToAll) ||
        !QFile::setPermissions(copy, OpenToAll)) {
        return {};
    }
    return copy;
}

} // namespace

class tst_CommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir configDir;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!Binary().isEmpty(), "QUORLIN_BINARY names the program under test");
        QVERIFY(configDir.isValid());
    }

    void versionAndHelp() {
        const Finished version = Run({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("Quorlin " QUORLIN_VERSION_TEXT "\n"));

        const Finished help = Run({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        for (const char* option :
             {"--headless", "--server", "--server-port", "--listen-port", "--listen-address",
              "--config-dir", "--tag-encoded-words", "--log-file", "--autostart"}) {
            QVERIFY2(help.out.contains(option), option);
        }
        // What the program does by default, and every file the folder holds.
        const QByteArray flat = help.out.simplified();
        for (const char* fact : {"up to 10 at once", "Quorlin_Options.ini", "~/.config/Quorlin"}) {
            QVERIFY2(flat.contains(fact), fact);
        }
    }

    void badOptionsAreRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("port zero") << QStringList{"--headless", "--listen-port", "0"};
        QTest::newRow("port too big") << QStringList{"--headless", "--server-port", "70000"};
        QTest::newRow("not an address") << QStringList{"--headless", "--listen-address", "x.y"};
        QTest::newRow("unknown option") << QStringList{"--headless", "--bogus"};
        QTest::newRow("no clients") << QStringList{"--headless", "--max-clients", "0"};
        QTest::newRow("idle timeout not a number")
            << QStringList{"--headless", "--idle-timeout", "ten"};
        // A forgotten value must not swallow the next option (it once built a window on an
        // application object without one).
        QTest::newRow("host forgotten") << QStringList{"--server", "--headless"};
        QTest::newRow("host forgotten, window") << QStringList{"--server", "--listen-port", "1"};
        QTest::newRow("host missing at the end") << QStringList{"--headless", "--server"};
        QTest::newRow("folder forgotten") << QStringList{"--config-dir", "--headless"};
        QTest::newRow("client TLS neither on nor off")
            << QStringList{"--headless", "--client-tls", "maybe"};
        QTest::newRow("certificate without its key")
            << QStringList{"--headless", "--client-cert", "/etc/hostname"};
        QTest::newRow("log file forgotten") << QStringList{"--log-file", "--headless"};
        // The server would be checked without the authorities the user named.
        QTest::newRow("CA file missing")
            << QStringList{"--headless", "--server",  "127.0.0.1",          "--security",
                           "tls",        "--ca-file", "/nonexistent/ca.pem"};
        QTest::newRow("account without host") << QStringList{"--headless", "--account", "alice"};
        QTest::newRow("account with an unknown key")
            << QStringList{"--headless", "--account", "alice=h,secure=tls"};
        QTest::newRow("account's CA file missing") << QStringList{
            "--headless", "--account", "alice=127.0.0.1,security=tls,ca=/nonexistent/ca.pem"};
    }
    void badOptionsAreRefused() {
        QFETCH(QStringList, arguments);
        const Finished run = Run(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("quorlin: "), run.err.constData());
    }

    void fingerprintRefusedWithItsReason_data() {
        QTest::addColumn<QString>("fingerprint");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("short, fullwidth")
            << QStringLiteral("０１２３")
            << QByteArray("4 hex digits where a SHA-256 fingerprint has 64");
        QTest::newRow("fullwidth letter beyond F")
            << QStringLiteral("ＡＧ") << QByteArray("\"Ｇ\" is not a hex digit (0-9, A-F)");
    }
    void fingerprintRefusedWithItsReason() {
        QFETCH(QString, fingerprint);
        QFETCH(QByteArray, reason);
        const Finished run = Run({"--headless", "--trust-fingerprint", fingerprint});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err, "quorlin: --trust-fingerprint needs a SHA-256 fingerprint of 64 hex "
                          "digits (colons allowed), not \"" +
                              fingerprint.toUtf8() + "\": " + reason + ".\n");
    }

    void noServerAndNoTerminalStopsWithoutCreatingAFile() {
        QTemporaryDir empty;
        const Finished run =
            Run({"--headless", "--config-dir", empty.path(), "--listen-port",
                 QString::number(FreeLoopbackPort()), "--listen-address", "127.0.0.1"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("--server"));
        QVERIFY(run.err.contains("Quorlin.ini"));
        QVERIFY(QDir(empty.path()).entryList(QDir::Files).isEmpty());
    }

    // A platform that needs a display, named where there is none: the run goes on without a
    // window instead of aborting in the platform plugin.
    void displayPlatformWithoutDisplayRunsHeadless_data() {
        QTest::addColumn<QString>("platform");
        QTest::newRow("xcb") << QStringLiteral("xcb");
        QTest::newRow("wayland") << QStringLiteral("wayland");
    }
    void displayPlatformWithoutDisplayRunsHeadless() {
        QFETCH(QString, platform);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QTemporaryDir empty;
        const Finished run =
            Run({"--config-dir", empty.path(), "--listen-port", QString::number(FreeLoopbackPort()),
                 "--listen-address", "127.0.0.1"},
                Binary(), environment);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("--server"), run.err.constData());
    }

    void unwritableProgramFolderFallsBackToTheUsersConfigFolder() {
        if (::geteuid() != 0) {
            QSKIP("needs root to run the program as a user who cannot write its folder");
        }
        QTemporaryDir home;
        QVERIFY(QFile::setPermissions(home.path(), OpenToAll | QFileDevice::WriteOther));
        QTemporaryDir programFolder;
        const QString program = BinaryForNobody(programFolder);
        QVERIFY(!program.isEmpty());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral("setpriv"),
                      {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program, "--headless",
                       "--listen-address", "127.0.0.1", "--listen-port",
                       QString::number(FreeLoopbackPort())});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(err.contains(QDir(home.path()).filePath(".config/Quorlin/Quorlin.ini").toUtf8()),
                 err.constData());
    }

    // The saved listen setting is used, and the command line overrides it for one run.
    void savedListenPortAndItsOverride_data() {
        QTest::addColumn<bool>("override");
        QTest::newRow("saved") << false;
        QTest::newRow("command line") << true;
    }
    void savedListenPortAndItsOverride() {
        QFETCH(bool, override);
        QTemporaryDir folder;
        const quint16 saved = FreeLoopbackPort();
        const quint16 given = FreeLoopbackPort();
        QFile options(folder.filePath("Quorlin_Options.ini"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("[Listen]\nPort=" + QByteArray::number(saved) + "\nAddress=127.0.0.1\n");
        options.close();
        QStringList arguments{"--headless", "--server", "127.0.0.1", "--config-dir", folder.path()};
        if (override) {
            arguments << "--listen-port" << QString::number(given);
        }
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(), arguments);
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("listening"));
        QVERIFY2(err.contains("listening on " + LoopbackShown() + " port " +
                              QByteArray::number(override ? given : saved)),
                 err.constData());
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    // [ClientTls] of the options file, and the command line over it for one run.
    void clientTlsSettingAndItsOverride_data() {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("shown"); // behind the port on the start-up line
        QTest::newRow("saved off")
            << QByteArray("Enabled=off\nPort=%1\n") << QStringList{} << QByteArray(", mail server");
        QTest::newRow("saved on, with a TLS port")
            << QByteArray("Enabled=true\nPort=%1\n") << QStringList{}
            << QByteArray(" (STLS), TLS port %1, mail server");
        QTest::newRow("command line over saved")
            << QByteArray("Enabled=no\n")
            << QStringList{"--client-tls", "on", "--client-tls-port", "%1"}
            << QByteArray(" (STLS), TLS port %1, mail server");
        QTest::newRow("command line off")
            << QByteArray("Port=%1\n") << QStringList{"--client-tls", "off"}
            << QByteArray(", mail server");
    }
    void clientTlsSettingAndItsOverride() {
        QFETCH(QByteArray, saved);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, shown);
        QTemporaryDir folder;
        const QByteArray tlsPort = QByteArray::number(FreeLoopbackPort());
        const quint16 port = FreeLoopbackPort();
        QFile options(folder.filePath("Quorlin_Options.ini"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("[ClientTls]\n" + saved.replace("%1", tlsPort));
        options.close();
        arguments.replaceInStrings(QStringLiteral("%1"), QString::fromLatin1(tlsPort));
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(), QStringList{"--headless", "--server", "127.0.0.1", "--config-dir",
                                            folder.path(), "--listen-address", "127.0.0.1",
                                            "--listen-port", QString::number(port)} +
                                    arguments);
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("mail server"));
        QVERIFY2(err.contains("listening on " + LoopbackShown() + " port " +
                              QByteArray::number(port) + shown.replace("%1", tlsPort)),
                 err.constData());
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    // A certificate of the user's that cannot be used stops the start rather than run without
    // the TLS asked for; the file and the reason are told.
    void unusableClientCertificateStops() {
        const Finished run =
            Run({"--headless", "--server", "127.0.0.1", "--config-dir", configDir.path(),
                 "--listen-port", QString::number(FreeLoopbackPort()), "--client-cert",
                 configDir.filePath("missing.pem"), "--client-key", "/etc/hostname"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("no TLS toward the mail clients this run") &&
                     run.err.contains(configDir.filePath("missing.pem").toUtf8()),
                 run.err.constData());
    }

    // A Security value that names no mode stops the start, whatever it may have meant; the
    // names and the settings dialog's labels are taken in any letter case or width.
    void savedSecurityValue_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("mode"); // as the start-up line names it; empty: refused
        QTest::newRow("ssl") << QByteArray("ssl") << QByteArray();
        QTest::newRow("stls") << QByteArray("stls") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("dialog's SSL/TLS") << QByteArray("SSL/TLS") << QByteArray("(TLS)");
        QTest::newRow("dialog's STARTTLS")
            << QByteArray("STARTTLS（STLS）") << QByteArray("(STLS)");
        QTest::newRow("ASCII parentheses") << QByteArray("starttls(stls)") << QByteArray("(STLS)");
        QTest::newRow("fullwidth") << QByteArray("ｔｌｓ") << QByteArray("(TLS)");
    }
    void savedSecurityValue() {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, mode);
        QTemporaryDir folder;
        QFile options(folder.filePath("Quorlin_Options.ini"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("[Server]\nSecurity=" + value + "\n");
        options.close();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(), {"--headless", "--server", "127.0.0.1", "--config-dir",
                                 folder.path(), "--listen-address", "127.0.0.1", "--listen-port",
                                 QString::number(FreeLoopbackPort())});
        if (mode.isEmpty()) {
            QVERIFY(quorlin.waitForFinished(20000));
            QCOMPARE(quorlin.exitCode(), 2);
            QCOMPARE(quorlin.readAllStandardError(),
                     "quorlin: " + options.fileName().toUtf8() + ", line 2: \"Security=" + value +
                         "\" names no way to reach the mail server.\nSecurity in [Server] takes "
                         "none, tls, starttls, or the settings dialog's なし（APOP）, SSL/TLS, "
                         "STARTTLS（STLS）, in any letter case.\nQuorlin does not start rather "
                         "than fall back to plain text.\n");
            return;
        }
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("listening"));
        QVERIFY2(err.contains(mode + "\n"), err.constData());
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    void busyPortIsReported() {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(holder.serverPort());
        const Finished run =
            Run({"--headless", "--server", "127.0.0.1", "--config-dir", configDir.path(),
                 "--listen-address", "127.0.0.1", "--listen-port", port});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(port.toLatin1()), run.err.constData());
    }

    void privilegedPortNamesTheWayAround() {
        QStringList arguments{"--headless",     "--server",      "127.0.0.1", "--config-dir",
                              configDir.path(), "--listen-port", "110"};
        QString program = Binary();
        QTemporaryDir programFolder;
        if (::geteuid() == 0) {
            program = BinaryForNobody(programFolder);
            QVERIFY(!program.isEmpty());
            // As root the port would simply open: try it as an ordinary user instead.
            arguments.prepend(program);
            arguments = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                    "--inh-caps=-all", "--bounding-set=-all"} +
                        arguments;
            program = QStringLiteral("setpriv");
        }
        const Finished run = Run(arguments, program);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("110"), run.err.constData());
        QVERIFY(run.err.contains("--listen-port"));
        QVERIFY(run.err.contains("setcap cap_net_bind_service"));
    }

    // The command line's limit wins over the options file's; the file's idle timeout applies.
    void clientLimitsFromTheCommandLineAndTheOptionsFile() {
        QTemporaryDir folder;
        QFile options(folder.filePath("Quorlin_Options.ini"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("[Clients]\r\nLimit=5\r\nIdleTimeoutSeconds=1\r\n");
        options.close();
        ScriptedServer server;
        server.greeting = "+OK ready <1.2@limits>\r\n";
        const quint16 listenPort = FreeLoopbackPort();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(), {"--headless", "--server", "127.0.0.1", "--server-port",
                                 QString::number(server.Port()), "--listen-port",
                                 QString::number(listenPort), "--listen-address", "127.0.0.1",
                                 "--config-dir", folder.path(), "--max-clients", "1"});
        QVERIFY(quorlin.waitForStarted());
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("listening"));

        TestClient first;
        first.ConnectTo(listenPort);
        QTRY_COMPARE(first.received, server.greeting);
        TestClient second;
        second.ConnectTo(listenPort);
        QTRY_VERIFY(second.received.startsWith("-ERR"));
        QTRY_COMPARE(second.socket.state(), QAbstractSocket::UnconnectedState);
        // Silent for the file's one second: let go, with its server connection.
        QTRY_COMPARE_WITH_TIMEOUT(first.socket.state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_VERIFY(server.peerClosed);
        QCOMPARE(server.received, QByteArray());
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    void headlessRelayServesAClientAndLogsWithoutThePassword() {
        ScriptedServer server;
        server.greeting = "+OK ready <1896.697170952@dbc.mtview.ca.us>\r\n";
        const quint16 listenPort = FreeLoopbackPort();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(),
                      {"--headless", "--server", "127.0.0.1", "--server-port",
                       QString::number(server.Port()), "--listen-port", QString::number(listenPort),
                       "--listen-address", "127.0.0.1", "--config-dir", configDir.path()});
        QVERIFY(quorlin.waitForStarted());
        QByteArray err;
        QTRY_VERIFY((err += quorlin.readAllStandardError()).contains("listening"));

        TestClient client;
        client.ConnectTo(listenPort);
        QTRY_COMPARE(client.received, server.greeting);
        client.Send("USER mrose\r\n");
        QTRY_VERIFY(client.received.endsWith("+OK Password required.\r\n"));
        client.Send("PASS tanstaaf\r\n");
        QTRY_COMPARE(server.received,
                     QByteArray("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"));
        server.Send("+OK mrose has 0 messages\r\n");
        QTRY_VERIFY(client.received.endsWith("+OK mrose has 0 messages\r\n"));

        QByteArray log;
        QTRY_VERIFY((log += quorlin.readAllStandardOutput()).contains("S: +OK mrose"));
        QVERIFY(log.contains("C: USER mrose\n"));
        QVERIFY(log.contains("C: PASS ******\n"));
        QVERIFY(!log.contains("tanstaaf"));
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
        QVERIFY(!QFile::exists(configDir.filePath("Quorlin.ini")));
    }

    // What a server or a client sends can neither drive the terminal nor show a password.
    void headlessLogShowsNoControlBytesAndNoPassword() {
        ScriptedServer server;
        server.greeting = "+OK \x1b[2J\x1b]0;owned\x07\r ready <1.2@escapes>\r\n";
        QProcess quorlin;
        const quint16 listenPort = StartHeadless(quorlin, {"--server", "127.0.0.1", "--server-port",
                                                           QString::number(server.Port()),
                                                           "--config-dir", configDir.path()});
        QVERIFY(listenPort != 0);
        TestClient client;
        client.ConnectTo(listenPort);
        QTRY_COMPARE(client.received, server.greeting);
        client.Send("USER alice\rPASS secretpw\r\nNOOP\r\n");
        QTRY_COMPARE(server.received, QByteArray("NOOP\r\n"));

        QByteArray log;
        QTRY_VERIFY((log += quorlin.readAllStandardOutput()).contains("C: NOOP\n"));
        QCOMPARE(log, QByteArray("S: +OK \\x1b[2J\\x1b]0;owned\\x07\\r ready <1.2@escapes>\n"
                                 "C: USER alice\\rPASS ******\n"
                                 "C: NOOP\n"));
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    // An IPv6 address as it is written in a URL.
    void serverInBrackets() {
        ScriptedServer server;
        server.server.close();
        if (!server.server.listen(QHostAddress::LocalHostIPv6, 0)) {
            QSKIP("no IPv6 loopback here");
        }
        server.greeting = "+OK ready <3.4@ipv6>\r\n";
        QProcess quorlin;
        const quint16 listenPort = StartHeadless(quorlin, {"--server", "[::1]", "--server-port",
                                                           QString::number(server.Port()),
                                                           "--config-dir", configDir.path()});
        QVERIFY(listenPort != 0);
        TestClient client;
        client.ConnectTo(listenPort);
        QTRY_COMPARE(client.received, server.greeting);
        quorlin.terminate();
        QVERIFY(quorlin.waitForFinished());
    }

    // The usual ways to stop a program end it cleanly in the middle of a RETR: its client is let
    // go, and the server connection closed without QUIT, so nothing is deleted, even where the
    // client pipelined DELE and QUIT behind the RETR.
    void stopSignalEndsCleanlyMidRetr_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("window");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGTERM, window") << SIGTERM << true;
        // Without a window SIGHUP reads the settings again; the window's terminal has gone.
        QTest::newRow("SIGHUP, window") << SIGHUP << true;
    }
    void stopSignalEndsCleanlyMidRetr() {
        QFETCH(int, signal);
        QFETCH(bool, window);
        QTemporaryDir folder;
        ScriptedServer server;
        server.greeting = "+OK ready <1896.697170952@dbc.mtview.ca.us>\r\n";
        const quint16 listenPort = FreeLoopbackPort();
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        QStringList arguments{"--server",      "127.0.0.1",
                              "--server-port", QString::number(server.Port()),
                              "--listen-port", QString::number(listenPort),
                              "--config-dir",  folder.path()};
        if (!window) {
            arguments.prepend("--headless");
        }
        quorlin.start(Binary(), arguments);
        TestClient client;
        QTRY_VERIFY_WITH_TIMEOUT(Greeted(client, listenPort, server.greeting), 20000);
        client.Send("USER mrose\r\nPASS tanstaaf\r\n");
        QTRY_COMPARE(server.received,
                     QByteArray("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"));
        server.Send("+OK mrose has 1 message\r\n");
        client.Send("RETR 1\r\nDELE 1\r\nQUIT\r\n");
        QTRY_VERIFY(server.received.endsWith("RETR 1\r\nDELE 1\r\n"));
        server.Send("+OK 9000 octets\r\nReturn-Path: <a@example.org>\r\n\r\n" +
                    QByteArray(4000, 'x'));
        QTRY_VERIFY(client.received.endsWith(QByteArray(4000, 'x')));

        QCOMPARE(::kill(pid_t(quorlin.processId()), signal), 0);
        QVERIFY(quorlin.waitForFinished(10000));
        QCOMPARE(quorlin.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorlin.exitCode(), 0);
        QTRY_VERIFY(server.peerClosed);
        QVERIFY(!server.received.contains("QUIT"));
        QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
    }

    // In the window, a signal while the start-up's message box is open ends the program cleanly
    // too, not by the signal's default action.
    void stopSignalDuringTheStartUpBoxEndsCleanly() {
        QTemporaryDir folder;
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        QProcess quorlin;
        quorlin.setStandardInputFile(QProcess::nullDevice());
        quorlin.start(Binary(),
                      {"--server", "127.0.0.1", "--config-dir", folder.path(), "--listen-address",
                       "127.0.0.1", "--listen-port", QString::number(holder.serverPort())});
        QByteArray err;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (err += quorlin.readAllStandardError())
                    .contains(QByteArray::number(holder.serverPort()));
            },
            20000));
        QCOMPARE(::kill(pid_t(quorlin.processId()), SIGTERM), 0);
        QVERIFY(quorlin.waitForFinished(10000));
        QCOMPARE(quorlin.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorlin.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_command_line.moc"
