#include "app/RunHeadless.h"

#include "QuorlinVersion.h"
#include "app/AppOptions.h"
#include "app/HeadlessView.h"
#include "app/LogOutput.h"
#include "app/RelayOptions.h"
#include "app/ServerTlsSetup.h"
#include "app/StartupMessages.h"
#include "platform/ProgramFiles.h"
#include "platform/UnixSignals.h"
#include "relay/Relay.h"
#include "settings/BlockedList.h"
#include "settings/ServerSecurity.h"
#include "settings/ServerSetting.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <csignal>
#include <unistd.h>

namespace {

// Without a terminal nobody can answer the first-run question, and a file holding an empty
// answer would only hide the problem: say how to set the server instead.
QString NoServerMessage() {
    return QStringLiteral("quorlin: no mail server is set. Either run\n"
                          "  quorlin --headless --server mail.example.com\n"
                          "or write the host name as the first line of\n"
                          "  %1\n"
                          "or start quorlin once from a terminal, where it asks for the server.")
        .arg(QDir::toNativeSeparators(ServerSettingPath()));
}

} // namespace

int RunHeadless(const AppOptions& options) {
    if (options.configDir) {
        SetSettingsDirectory(*options.configDir);
    }
    if (const auto unknown = UnknownSavedSecurity()) {
        QTextStream(stderr) << "quorlin: " << UnknownSecurityMessage(*unknown) << "\n";
        return 2;
    }
    HeadlessView view;
    if (options.server) {
        view.SetText1(*options.server);
    } else if (ServerSettingExists() || HeadlessView::CanAsk()) {
        LoadServerSetting(view);
    }
    // No file even after the question (no terminal to ask on, or the question left unanswered).
    if (!options.server && !ServerSettingExists()) {
        QTextStream(stderr) << NoServerMessage() << "\n";
        return 1;
    }
    LoadBlockedList(view);
    ReportUnusableTrustedFingerprints(view);

    Relay relay(view, RelayOptionsFor(options));
    const ServerTlsSetup tlsSetup = ResolveServerTls(options, LoadServerSecurity());
    QString caProblem;
    if (!ApplyServerTls(relay, tlsSetup, &caProblem)) {
        QTextStream(stderr) << "quorlin: " << caProblem << "\n";
        if (options.caFile) {
            return 1;
        }
    }
    const SocketResult listening = relay.StartListening();
    if (!listening) {
        QTextStream(stderr) << "quorlin: "
                            << ListenFailureMessage(options.listenPort, listening.error) << "\n";
        return 1;
    }
    // Once the relay runs, problems are told the way the log is written: a standard error
    // that nobody reads must not stop it either.
    LogOutput problems(STDERR_FILENO);
    const auto tell = [&problems](const QString& message) {
        problems.Append((QStringLiteral("quorlin: ") + message + QLatin1Char('\n')).toLocal8Bit());
    };
    QObject::connect(&relay, &Relay::ServerConnectFailed,
                     [&view, &relay, tell](const QString& why) {
                         tell(ServerConnectFailureReport(view.Text1(), relay.ServerPort(), why));
                     });
    QObject::connect(&relay, &Relay::ServerTlsFailed, [&problems](const TlsFailure& failure) {
        problems.Append((TlsFailureReport(failure) + QLatin1Char('\n')).toLocal8Bit());
    });
    // The usual ways to stop a service end it cleanly: the clients are let go and their server
    // connections closed without QUIT, so no server deletes anything.
    const auto endCleanly = [&relay] {
        relay.CloseAll();
        QCoreApplication::exit(0);
    };
    UnixSignals unixSignals;
    unixSignals.On({SIGTERM, SIGINT}, endCleanly);
    unixSignals.On({SIGHUP}, endCleanly); // the terminal has gone, or a service manager asks
    QTextStream(stderr) << "Quorlin " << QUORLIN_VERSION_TEXT << ": listening on "
                        << (options.listenAddress == QHostAddress(QHostAddress::Any)
                                ? QStringLiteral("all addresses")
                                : options.listenAddress.toString())
                        << " port " << relay.Winsock2().LocalPort() << ", mail server "
                        << ServerDescription(view.Text1(), tlsSetup) << "\n";
    return QCoreApplication::exec();
}
