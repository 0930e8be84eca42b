#include "QuorlinVersion.h"
#include "platform/ProgramFiles.h"
#include "relay/Relay.h"
#include "settings/BlockedList.h"
#include "settings/ServerSetting.h"
#include "shell/AppOptions.h"
#include "shell/HeadlessView.h"
#include "shell/StartupMessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>

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
    static char logBuffer[1 << 16];
    std::setvbuf(stdout, logBuffer, _IOFBF, sizeof logBuffer);

    if (options.configDir) {
        SetProgramDirectory(*options.configDir);
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

    Relay relay(view,
                Relay::Options{options.serverPort, options.listenPort, options.listenAddress});
    const SocketResult listening = relay.StartListening();
    if (!listening) {
        QTextStream(stderr) << "quorlin: "
                            << ListenFailureMessage(options.listenPort, listening.error) << "\n";
        return 1;
    }
    QObject::connect(&relay, &Relay::ServerConnectFailed, [&view, &options](const QString& why) {
        QTextStream(stderr) << "quorlin: cannot connect to the mail server " << view.Text1() << ":"
                            << options.serverPort << ": " << why << "\n";
    });
    QObject::connect(&relay, &Relay::ListenFailed, [&options](const QString& why) {
        QTextStream(stderr) << "quorlin: " << ListenFailureMessage(options.listenPort, why) << "\n";
        QCoreApplication::exit(1);
    });
    QTextStream(stderr) << "Quorlin " << QUORLIN_VERSION_TEXT << ": listening on "
                        << (options.listenAddress == QHostAddress(QHostAddress::Any)
                                ? QStringLiteral("all addresses")
                                : options.listenAddress.toString())
                        << " port " << relay.Winsock2().LocalPort() << ", mail server "
                        << view.Text1() << ":" << options.serverPort << "\n";
    return QCoreApplication::exec();
}
