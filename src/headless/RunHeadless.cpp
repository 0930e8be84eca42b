#include "headless/RunHeadless.h"

#include "QuorlinVersion.h"
#include "app/StartupMessages.h"
#include "app/StartupSettings.h"
#include "headless/HeadlessView.h"
#include "platform/LogOutput.h"
#include "platform/OwnCertificate.h"
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
    StartupSettings startup = LoadStartupSettings(options);
    Settings& settings = startup.settings;
    if (const auto unknown = UnknownSavedSecurity()) {
        QTextStream(stderr) << "quorlin: " << UnknownSecurityMessage(*unknown) << "\n";
        return 2;
    }
    HeadlessView view;
    if (!options.server && (ServerSettingExists() || HeadlessView::CanAsk())) {
        LoadServerSetting(settings, view);
    }
    // No file even after the question (no terminal to ask on, or the question left unanswered).
    if (!options.server && !ServerSettingExists()) {
        QTextStream(stderr) << NoServerMessage() << "\n";
        return 1;
    }
    LoadBlockedList(settings, view);
    ReportUnusableTrustedFingerprints(view);

    if (!startup.caFileProblem.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << startup.caFileProblem << "\n";
        if (options.caFile) {
            return 1;
        }
    }
    LoadClientCertificate(startup);
    if (!startup.clientTlsProblem.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << ClientTlsProblemMessage(startup.clientTlsProblem)
                            << "\n";
        if (options.clientCertificateFile) {
            return 1;
        }
    }
    const QString notice =
        RenewalNotice(startup.clientCertificateRenewal, settings.clientIdentity.certificatePath);
    if (!notice.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << notice << "\n";
    }
    Relay relay(view, settings);
    for (const auto& [listen, port] :
         {std::pair{&Relay::StartListening, settings.listen.port},
          std::pair{&Relay::StartImplicitTlsListening, settings.clientTls.implicitPort}}) {
        const Result<> listening = (relay.*listen)();
        if (!listening) {
            QTextStream(stderr) << "quorlin: " << ListenFailureMessage(port, listening.Error())
                                << "\n";
            return 1;
        }
    }
    // Once the relay runs, problems are told the way the log is written: a standard error
    // that nobody reads must not stop it either.
    LogOutput problems(STDERR_FILENO);
    const auto tell = [&problems](const QString& message) {
        problems.Append((QStringLiteral("quorlin: ") + message + QLatin1Char('\n')).toLocal8Bit());
    };
    QObject::connect(&relay, &Relay::ServerConnectFailed,
                     [tell](const QString& host, quint16 port, const QString& why) {
                         tell(ServerConnectFailureReport(host, port, why));
                     });
    QObject::connect(
        &relay, &Relay::ServerTlsFailed, [&problems, &settings](const TlsFailure& failure) {
            problems.Append((TlsFailureReport(failure) + QLatin1Char('\n')).toLocal8Bit());
            // A fingerprint added to the options file by hand after this refusal counts from
            // the next connection on.
            settings.trustedCertificates = LoadTrustedCertificates();
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
                        << (settings.listen.address == QHostAddress(QHostAddress::Any)
                                ? QStringLiteral("all addresses")
                                : settings.listen.address.toString())
                        << " "
                        << ListenDescription(settings, relay.ListeningPort(),
                                             relay.ListeningForTls() ? relay.TlsListeningPort() : 0)
                        << ", mail server " << ServerDescription(settings.DefaultAccount()) << "\n";
    return QCoreApplication::exec();
}
