#include "headless/RunHeadless.h"

#include "QuorlinVersion.h"
#include "app/SettingsReload.h"
#include "app/StartupMessages.h"
#include "app/StartupSettings.h"
#include "headless/HeadlessView.h"
#include "platform/LogOutput.h"
#include "platform/OwnCertificate.h"
#include "platform/UnixSignals.h"
#include "relay/Relay.h"
#include "relay/SettingsChange.h"
#include "relay/TranscriptView.h"
#include "settings/BlockedList.h"
#include "settings/OptionsCheck.h"
#include "settings/ServerSecurity.h"
#include "settings/ServerSetting.h"
#include "settings/TaggingOptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <csignal>
#include <unistd.h>

namespace {

// Without a terminal nobody can answer the first-run question, and a file holding an empty
// answer would only hide the problem: say how to set the server instead. Under systemd (which
// names each run of a service in INVOCATION_ID) the way is the file and a restart, since the
// service gives up after a few failed starts.
QString NoServerMessage() {
    const QString file = QDir::toNativeSeparators(ServerSettingPath());
    if (!qEnvironmentVariableIsEmpty("INVOCATION_ID")) {
        return QStringLiteral("quorlin: no mail server is set. Write the mail server's host name "
                              "as the first line of\n"
                              "  %1\n"
                              "then start the service again:\n"
                              "  systemctl --user restart quorlin")
            .arg(file);
    }
    return QStringLiteral("quorlin: no mail server is set. Either run\n"
                          "  quorlin --headless --server mail.example.com\n"
                          "or write the host name as the first line of\n"
                          "  %1\n"
                          "or start quorlin once from a terminal, where it asks for the server.")
        .arg(file);
}

// "127.0.0.1 and ::1": every address held, as 127.0.0.1 brings ::1 along where the machine has it.
QString AddressesDescription(const QList<QHostAddress>& addresses) {
    QStringList shown;
    for (const QHostAddress& address : addresses) {
        if (address == QHostAddress(QHostAddress::Any)) {
            return QStringLiteral("all addresses");
        }
        shown.append(address.toString());
    }
    return shown.join(QStringLiteral(" and "));
}

// "listening on all addresses port 110 (STLS), mail server pop.example.com:995 (TLS)".
// The accounts follow, a line each.
QString ListeningDescription(const Settings& settings, const Relay& relay) {
    QString description =
        QStringLiteral("listening on %1 %2, mail server %3")
            .arg(AddressesDescription(relay.ListeningAddresses()),
                 ListenDescription(settings, relay.ListeningPort(),
                                   relay.ListeningForTls() ? relay.TlsListeningPort() : 0),
                 settings.DefaultAccount().host.isEmpty()
                     ? QStringLiteral("none: only the accounts' login names are served")
                     : ServerDescription(settings.DefaultAccount()));
    for (int index = 1; index < settings.accounts.size(); ++index) {
        description +=
            QStringLiteral("\n  ") +
            AccountDescription(settings.accounts[index], relay.AccountListeningPort(index));
    }
    return description;
}

} // namespace

int RunHeadless(const AppOptions& options) {
    StartupSettings startup = LoadStartupSettings(options);
    Settings& settings = startup.settings;
    if (const auto unknown = UnknownSavedSecurity()) {
        QTextStream(stderr) << "quorlin: " << UnknownSecurityMessage(*unknown) << "\n";
        return 2;
    }
    // The account's server would be checked without the authorities the user named.
    if (!startup.accountOptionProblem.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << startup.accountOptionProblem << "\n";
        return 2;
    }
    HeadlessView view;
    if (!options.server && (ServerSettingExists() || HeadlessView::CanAsk())) {
        LoadServerSetting(settings, view);
    }
    // No file even after the question (no terminal to ask on, or the question left unanswered).
    // With accounts, a run without a default server is one where the login name alone decides.
    if (!options.server && !ServerSettingExists() && !settings.HasAccounts()) {
        QTextStream(stderr) << NoServerMessage() << "\n";
        return 1;
    }
    LoadBlockedList(settings, view);
    ReportUnusableOptions(view);

    // The server's certificate would be checked without the authorities the user named.
    if (startup.caFileProblem) {
        QTextStream(stderr) << "quorlin: " << EnglishWords(*startup.caFileProblem) << "\n";
        return 2;
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
    TranscriptView transcript(view);
    transcript.UseFile(settings.log.file, settings.log.rotation);
    Relay relay(transcript, settings);
    if (const auto failed = relay.StartAllListening()) {
        QTextStream(stderr) << "quorlin: " << ListenFailureMessage(failed->port, failed->reason)
                            << "\n";
        return 1;
    }
    if (startup.newFolder) {
        (void)KeepNewFolderTagging();
    }
    // Once the relay runs, problems are told the way the log is written: a standard error
    // that nobody reads must not stop it either. The log file has them too.
    LogOutput problems(STDERR_FILENO);
    const auto tell = [&problems, &transcript](const QString& message) {
        problems.Append((QStringLiteral("quorlin: ") + message + QLatin1Char('\n')).toLocal8Bit());
        transcript.AddNote(message);
    };
    QObject::connect(
        &transcript, &TranscriptView::Failed,
        [&problems](const QString& path, const QString& reason) {
            // Not into the file that cannot be written.
            problems.Append(
                ("quorlin: " + LogFileFailureMessage(path, reason) + '\n').toLocal8Bit());
        });
    QObject::connect(&relay, &Relay::ServerConnectFailed,
                     [tell](const QString& host, quint16 port, const QString& why) {
                         tell(ServerConnectFailureReport(host, port, why));
                     });
    QObject::connect(&relay, &Relay::ServerSentNoGreeting,
                     [tell, &settings](const QString& host, quint16 port, const QString& why) {
                         tell(
                             NoGreetingReport(host, port, why, settings.DefaultAccount().security));
                     });
    QObject::connect(&relay, &Relay::ServerTlsFailed,
                     [&problems, &transcript, &settings](const TlsFailure& failure) {
                         const QString report = TlsFailureReport(failure);
                         problems.Append((report + QLatin1Char('\n')).toLocal8Bit());
                         transcript.AddNote(report);
                         // A fingerprint added to the options file by hand after this refusal
                         // counts from the next connection on.
                         settings.trustedCertificates = LoadTrustedCertificates();
                     });
    // The usual ways to stop a service end it cleanly: the clients are let go and their server
    // connections closed without QUIT, so no server deletes anything.
    const auto endCleanly = [&relay] {
        relay.CloseAll();
        QCoreApplication::exit(0);
    };
    // As daemons do, SIGHUP reads the settings again; the conversations going on finish with
    // those they started with.
    const auto reload = [&] {
        ReloadedSettings next = ReadSettingsAgain(options, settings, HostOnReload::FromFile);
        if (next.problems.Any()) {
            tell(ReloadRefusedMessage(next.problems));
            return;
        }
        for (const Relay::ListenFailure& failure :
             PutSettingsInForce(relay, settings, std::move(next.settings))) {
            tell(ListenAgainFailureMessage(failure.wanted, failure.reason, failure.kept));
        }
        const QString renewed =
            RenewalNotice(next.clientCertificateRenewal, settings.clientIdentity.certificatePath);
        if (!renewed.isEmpty()) {
            tell(renewed);
        }
        transcript.UseFile(settings.log.file, settings.log.rotation);
        tell(QStringLiteral("settings reloaded: ") + ListeningDescription(settings, relay));
    };
    UnixSignals unixSignals;
    unixSignals.On({SIGTERM, SIGINT}, endCleanly);
    unixSignals.On({SIGHUP}, reload);
    QTextStream(stderr) << "Quorlin " << QUORLIN_VERSION_TEXT << ": "
                        << ListeningDescription(settings, relay) << "\n";
    return QCoreApplication::exec();
}
