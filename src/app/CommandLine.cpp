#include "app/CommandLine.h"

#include "QuorlinVersion.h"
#include "app/AccountOption.h"
#include "platform/Pop3Ports.h"
#include "settings/AutostartEntry.h"
#include "settings/ClientLimits.h"
#include "settings/ClientTlsSetting.h"
#include "settings/LogSetting.h"
#include "settings/OptionValues.h"
#include "settings/ServerSecurity.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdlib>

namespace {

// A window needs an X or Wayland display, or a Qt platform that brings its own screen
// (offscreen, vnc, ...); xcb and wayland named without their display have nowhere to show it.
bool HasDisplay() {
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return true;
    }
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    return !platform.isEmpty() && !platform.startsWith(QStringLiteral("xcb")) &&
           !platform.startsWith(QStringLiteral("wayland"));
}

// `lowest` is 0 where port 0 means "none".
std::optional<quint16> ParsePort(const QString& text, const QString& option, uint lowest = 1) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value < lowest || value > 65535) {
        QTextStream(stderr) << "quorlin: --" << option << " needs a port from " << lowest
                            << " to 65535, not \"" << text << "\".\n";
        return std::nullopt;
    }
    return static_cast<quint16>(value);
}

std::optional<int> ParseCount(const QString& text, const QString& option, int most) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > most) {
        QTextStream(stderr) << "quorlin: --" << option << " needs a whole number from 1 to " << most
                            << ", not \"" << text << "\".\n";
        return std::nullopt;
    }
    return value;
}

// An option whose value was forgotten takes the next option as its value
// ("--server --headless"); no host, address or folder begins with two dashes.
bool ValueIsAnOption(const QCommandLineParser& parser, const QCommandLineOption& option) {
    if (!parser.isSet(option) || !parser.value(option).startsWith(QStringLiteral("--"))) {
        return false;
    }
    QTextStream(stderr) << "quorlin: --" << option.names().constFirst() << " needs a value, not \""
                        << parser.value(option) << "\"; see --help.\n";
    return true;
}

} // namespace

std::optional<AppOptions> ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Relays POP3 mail clients (up to %1 at once unless --max-clients says "
                       "otherwise) to one mail server and logs in with APOP, so the password "
                       "never crosses the network in clear.")
            .arg(DefaultMaxClients));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Print the version and exit."));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window; logs go to standard output "
                       "(also the default when there is no display)."));
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("Mail server host for this run (the saved setting is left as it is)."),
        QStringLiteral("host"));
    const QCommandLineOption serverPortOption(
        QStringLiteral("server-port"),
        QStringLiteral("Mail server port (default %1 with --security tls, otherwise %2).")
            .arg(ImplicitTlsPop3Port)
            .arg(PlainPop3Port),
        QStringLiteral("port"));
    const QCommandLineOption securityOption(
        QStringLiteral("security"),
        QStringLiteral("How to reach the mail server for this run: none (plain, APOP login), "
                       "tls (TLS from the first byte) or starttls (STLS after the greeting)."),
        QStringLiteral("none|tls|starttls"));
    const QCommandLineOption caFileOption(
        QStringLiteral("ca-file"),
        QStringLiteral("PEM file of authorities trusted beside the system's, for this run."),
        QStringLiteral("file"));
    const QCommandLineOption trustFingerprintOption(
        QStringLiteral("trust-fingerprint"),
        QStringLiteral("Trust the mail server's certificate with this SHA-256 fingerprint "
                       "(64 hex digits, colons allowed; may be repeated)."),
        QStringLiteral("sha256"));
    const QCommandLineOption listenPortOption(
        QStringLiteral("listen-port"),
        QStringLiteral("Port the mail client connects to, for this run (default: the saved "
                       "setting, or %1).")
            .arg(PlainPop3Port),
        QStringLiteral("port"));
    const QCommandLineOption listenAddressOption(
        QStringLiteral("listen-address"),
        QStringLiteral("Address to listen on, for this run: localhost for this machine only "
                       "(127.0.0.1 and ::1), or an IP address (default: the saved setting, or "
                       "all addresses)."),
        QStringLiteral("address"));
    const QCommandLineOption configDirOption(
        QStringLiteral("config-dir"),
        QStringLiteral("Folder of Quorlin.ini, Quorlin_BatList.ini and Quorlin_Options.ini "
                       "(default: the program's folder, or ~/.config/Quorlin when the program's "
                       "folder cannot be written)."),
        QStringLiteral("folder"));
    const QCommandLineOption maxClientsOption(
        QStringLiteral("max-clients"),
        QStringLiteral("Mail clients served at once; one more is refused (default %1, or Limit "
                       "in [Clients] of Quorlin_Options.ini).")
            .arg(DefaultMaxClients),
        QStringLiteral("count"));
    const QCommandLineOption idleTimeoutOption(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Seconds a client may stay silent before it and its server connection "
                       "are let go (default %1, or IdleTimeoutSeconds in [Clients]).")
            .arg(DefaultIdleTimeoutMs / 1000),
        QStringLiteral("seconds"));
    const QCommandLineOption clientTlsOption(
        QStringLiteral("client-tls"),
        QStringLiteral("TLS toward the mail clients for this run: on (STLS, SASL PLAIN and "
                       "LOGIN offered; the default) or off (neither, as plain POP3 alone)."),
        QStringLiteral("on|off"));
    const QCommandLineOption clientTlsPortOption(
        QStringLiteral("client-tls-port"),
        QStringLiteral("Port where mail clients speak TLS from the first byte (pop3s), for this "
                       "run; 0 for none (default: Port in [ClientTls], or none)."),
        QStringLiteral("port"));
    const QCommandLineOption clientCertOption(
        QStringLiteral("client-cert"),
        QStringLiteral("PEM certificate shown to mail clients, with --client-key (default: "
                       "Quorlin's own, made in the settings folder)."),
        QStringLiteral("file"));
    const QCommandLineOption clientKeyOption(
        QStringLiteral("client-key"),
        QStringLiteral("Unencrypted PEM key of the --client-cert certificate."),
        QStringLiteral("file"));
    const QCommandLineOption clientCertificateOption(
        QStringLiteral("client-certificate"),
        QStringLiteral("Print the certificate mail clients are shown (file, fingerprints, lines "
                       "for fetchmail and neomutt) and exit."));
    const QCommandLineOption accountOption(
        QStringLiteral("account"),
        QStringLiteral("A mail account for this run: clients logging in as LOGIN (exactly) go to "
                       "HOST; other names go to the mail server. Keys after the host: "
                       "security=tls|starttls|none, ca=FILE, pin=SHA256, user=NAME (the name "
                       "the server knows), listen=PORT (a port where every client goes to this "
                       "account). May be repeated."),
        QStringLiteral("LOGIN=HOST[:PORT][,key=value...]"));
    const QCommandLineOption encodedWordsOption(
        QStringLiteral("tag-encoded-words"),
        QStringLiteral("For this run, also tag mail whose Subject or From holds an encoded word "
                       "in a blocked character set, or whose start declares one on any line "
                       "(default: EncodedWords in [Tagging])."));
    const QCommandLineOption logFileOption(
        QStringLiteral("log-file"),
        QStringLiteral("Also append the log to this file, each line behind its time, moved "
                       "aside at %1 MB with %2 kept (for this run; default: File in [Log]).")
            .arg(LogRotation{}.maxBytes / (1024 * 1024))
            .arg(LogRotation{}.keptFiles),
        QStringLiteral("file"));
    const QCommandLineOption autostartOption(
        QLatin1String(AutostartOptionName),
        QStringLiteral("Started at login: wait in the tray without showing the window or asking "
                       "anything (the start-at-login entry adds it)."));
    parser.addOptions({accountOption,          versionOption,    headlessOption,
                       serverOption,           serverPortOption, listenPortOption,
                       listenAddressOption,    configDirOption,  maxClientsOption,
                       idleTimeoutOption,      securityOption,   caFileOption,
                       trustFingerprintOption, clientTlsOption,  clientTlsPortOption,
                       clientCertOption,       clientKeyOption,  clientCertificateOption,
                       encodedWordsOption,     logFileOption,    autostartOption});

    if (!parser.parse(arguments)) {
        QTextStream(stderr) << "quorlin: " << parser.errorText() << "\n";
        return std::nullopt;
    }
    if (parser.isSet(helpOption)) {
        // Printed here rather than with showHelp, which needs the application object that
        // this parse comes before.
        QTextStream(stdout) << parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                         QStringLiteral("quorlin"));
        std::exit(0);
    }
    if (parser.isSet(versionOption)) {
        QTextStream(stdout) << "Quorlin " << QUORLIN_VERSION_TEXT << "\n";
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "quorlin: unexpected argument \""
                            << parser.positionalArguments().first() << "\"; see --help.\n";
        return std::nullopt;
    }

    for (const QCommandLineOption& option : {serverOption, listenAddressOption, configDirOption,
                                             clientCertOption, clientKeyOption, logFileOption}) {
        if (ValueIsAnOption(parser, option)) {
            return std::nullopt;
        }
    }

    AppOptions options;
    options.headless = parser.isSet(headlessOption) || !HasDisplay();
    if (parser.isSet(serverOption)) {
        options.server = parser.value(serverOption);
    }
    for (const auto& [option, port] : {std::pair{&serverPortOption, &options.serverPort},
                                       std::pair{&listenPortOption, &options.listenPort}}) {
        if (parser.isSet(*option)) {
            *port = ParsePort(parser.value(*option), option->names().constFirst());
            if (!*port) {
                return std::nullopt;
            }
        }
    }
    if (parser.isSet(securityOption)) {
        options.security = ParseSecurityMode(parser.value(securityOption));
        if (!options.security) {
            QTextStream(stderr) << "quorlin: --security needs none, tls or starttls, not \""
                                << parser.value(securityOption) << "\".\n";
            return std::nullopt;
        }
    }
    if (parser.isSet(caFileOption)) {
        options.caFile = parser.value(caFileOption);
    }
    for (const QString& text : parser.values(trustFingerprintOption)) {
        FingerprintProblem why;
        const std::optional<QByteArray> fingerprint = ParseFingerprint(text, &why);
        if (!fingerprint) {
            QTextStream(stderr) << "quorlin: --trust-fingerprint needs a SHA-256 fingerprint of "
                                   "64 hex digits (colons allowed), not \""
                                << text << "\": " << EnglishWords(why) << ".\n";
            return std::nullopt;
        }
        options.trustFingerprints.append(*fingerprint);
    }
    if (parser.isSet(listenAddressOption)) {
        const QString text = parser.value(listenAddressOption);
        const std::optional<QHostAddress> address =
            text.trimmed().isEmpty() ? std::nullopt : ParseAddressValue(text);
        if (!address) {
            QTextStream(stderr) << "quorlin: --listen-address needs localhost or an IP address, "
                                   "not \""
                                << text << "\".\n";
            return std::nullopt;
        }
        options.listenAddress = *address;
    }
    if (parser.isSet(configDirOption)) {
        options.configDir = parser.value(configDirOption);
    }
    if (parser.isSet(encodedWordsOption)) {
        options.tagEncodedWords = true;
    }
    if (parser.isSet(logFileOption)) {
        options.logFile = QFileInfo(parser.value(logFileOption)).absoluteFilePath();
    }
    options.autostart = parser.isSet(autostartOption);
    if (parser.isSet(maxClientsOption)) {
        options.maxClients = ParseCount(parser.value(maxClientsOption),
                                        QStringLiteral("max-clients"), MaxClientLimit);
        if (!options.maxClients) {
            return std::nullopt;
        }
    }
    if (parser.isSet(idleTimeoutOption)) {
        options.idleTimeoutSeconds = ParseCount(
            parser.value(idleTimeoutOption), QStringLiteral("idle-timeout"), MaxIdleTimeoutSeconds);
        if (!options.idleTimeoutSeconds) {
            return std::nullopt;
        }
    }
    if (parser.isSet(clientTlsOption)) {
        options.clientTls = ParseSwitch(parser.value(clientTlsOption));
        if (!options.clientTls) {
            QTextStream(stderr) << "quorlin: --client-tls needs on or off, not \""
                                << parser.value(clientTlsOption) << "\".\n";
            return std::nullopt;
        }
    }
    if (parser.isSet(clientTlsPortOption)) {
        options.clientTlsPort =
            ParsePort(parser.value(clientTlsPortOption), QStringLiteral("client-tls-port"), 0);
        if (!options.clientTlsPort) {
            return std::nullopt;
        }
    }
    if (parser.isSet(clientCertOption) != parser.isSet(clientKeyOption)) {
        QTextStream(stderr) << "quorlin: --client-cert and --client-key go together.\n";
        return std::nullopt;
    }
    if (parser.isSet(clientCertOption)) {
        options.clientCertificateFile = parser.value(clientCertOption);
        options.clientKeyFile = parser.value(clientKeyOption);
    }
    options.printClientCertificate = parser.isSet(clientCertificateOption);
    for (const QString& text : parser.values(accountOption)) {
        const Result<Account> account = ParseAccountOption(text);
        if (!account) {
            QTextStream(stderr) << "quorlin: --account \"" << text << "\": " << account.Error()
                                << "; see --help.\n";
            return std::nullopt;
        }
        options.accounts.append(account.Value());
    }
    return options;
}
