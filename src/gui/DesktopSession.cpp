#include "gui/DesktopSession.h"

#include "app/SettingsReload.h"
#include "app/StartupMessages.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsProblemText.h"
#include "relay/SettingsChange.h"
#include "settings/BlockedList.h"
#include "settings/OptionsCheck.h"
#include "settings/ServerSecurity.h"
#include "settings/ServerSetting.h"
#include "settings/TaggingOptions.h"

#include <QCoreApplication>
#include <QTextStream>

DesktopSession::DesktopSession(const AppOptions& appOptions, bool systemTrayAvailable,
                               QObject* parent)
    : QObject(parent), options(appOptions), startup(LoadStartupSettings(appOptions)),
      notify(systemTrayAvailable), display(startup.settings, notify), transcript(display),
      relay(transcript, startup.settings), accountChecks(display.SysTray(), startup.settings) {
    display.UseRelay(relay, options);
    transcript.UseFile(startup.settings.log.file, startup.settings.log.rotation);
    connect(&notify, &TrayIcon::ShowRequested, &display, &Shell::Display::ShowFromUser);
    connect(&display, &Shell::Display::EndRequested, this, &DesktopSession::EndProgram);
    connect(&display, &Shell::Display::SettingsSaved, this, &DesktopSession::Reload);

    connect(&relay, &Relay::ServerConnectFailed, this, &DesktopSession::ReportServerFailure);
    connect(&relay, &Relay::ServerSentNoGreeting, this, &DesktopSession::ReportNoGreeting);
    connect(&transcript, &TranscriptView::Failed, this,
            [this](const QString& path, const QString& reason) {
                QTextStream(stderr) << "quorlin: " << LogFileFailureMessage(path, reason) << "\n";
                const QString message = LogFileFailureWindowMessage(path, reason);
                display.LogNote(message);
                notify.ShowMessage(Shell::Display::BaseCaption, message);
            });
    connect(&relay, &Relay::AccountChecked, &accountChecks, &AccountChecksMenu::Record);

    // The end of the user's session quits without the tray menu: the sockets and the icon go
    // all the same.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this,
                &DesktopSession::ReleaseSessionResources);
    }
}

DesktopSession::~DesktopSession() = default;

bool DesktopSession::Form_Load() {
    Settings& settings = startup.settings;
    // --server names the host for this run only: the saved one is neither read nor asked for.
    // Started at login, nothing is asked either: the tray says where the server goes.
    const bool quietly = options.autostart && notify.SystemTrayAvailable();
    if (!options.server && (!quietly || ServerSettingExists())) {
        LoadServerSetting(settings, display);
    }
    LoadBlockedList(settings, display);
    ReportUnusableOptions(display);
    if (!startup.accountOptionProblem.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << startup.accountOptionProblem << "\n";
    }
    display.ShowSettings();
    display.PlaceAtStart();
    display.AddVersionToCaption();

    // Before any client is served: never in plain text in place of the mode the user meant.
    if (const auto unknown = UnknownSavedSecurity()) {
        retryWanted = display.ReportStartFailure(UnknownSecurityWindowMessage(*unknown));
        failureStatus = 2;
        return false;
    }
    LoadClientCertificate(startup);
    if (const auto failed = relay.StartAllListening()) {
        QTextStream(stderr) << "quorlin: " << ListenFailureMessage(failed->port, failed->reason)
                            << "\n";
        retryWanted =
            display.ReportStartFailure(ListenFailureWindowMessage(failed->port, failed->reason));
        return false;
    }
    if (startup.newFolder) {
        (void)KeepNewFolderTagging();
    }
    notify.Add(&display, &display.SysTray());
    TellClientTlsState();
    TellCaFileProblem();
    // With accounts, a login name alone may say where to go.
    if (!settings.HasAccounts()) {
        display.AskForServerIfNone(quietly);
    }
    return true;
}

// The certificate for the mail clients made anew, or none to be had: the user must know, since
// mail clients that trusted the old one refuse the new one.
void DesktopSession::TellClientTlsState() {
    if (!startup.clientTlsProblem.isEmpty()) {
        Tell(ClientTlsProblemWindowMessage(startup.clientTlsProblem),
             ClientTlsProblemMessage(startup.clientTlsProblem));
    } else if (startup.clientCertificateRenewal != CertificateRenewal::Kept) {
        const QString& path = startup.settings.clientIdentity.certificatePath;
        Tell(RenewalWindowNotice(startup.clientCertificateRenewal, path),
             RenewalNotice(startup.clientCertificateRenewal, path));
    }
}

// The checks then go on with the system's authorities alone, and a server certified by the
// user's own authority is refused until the file is mended.
void DesktopSession::TellCaFileProblem() {
    if (!startup.caFileProblem) {
        return;
    }
    const QString report = EnglishWords(*startup.caFileProblem);
    QTextStream(stderr) << "quorlin: " << report << "\n";
    transcript.AddNote(report);
    const QString message = CaFileWindowMessage(*startup.caFileProblem);
    display.LogNote(message);
    display.ReportFileError(message);
}

void DesktopSession::Reload() {
    Settings& settings = startup.settings;
    ReloadedSettings next = ReadSettingsAgain(options, settings, HostOnReload::InForce);
    if (next.problems.Any()) {
        QTextStream(stderr) << "quorlin: " << ReloadRefusedMessage(next.problems) << "\n";
        display.ReportFileError(ReloadRefusedWindowMessage(next.problems));
        return;
    }
    const QString oldSuffix = SecurityCaptionSuffix(settings.DefaultAccount().security);
    for (const Relay::ListenFailure& failure :
         PutSettingsInForce(relay, settings, std::move(next.settings))) {
        QTextStream(stderr) << "quorlin: "
                            << ListenAgainFailureMessage(failure.wanted, failure.reason,
                                                         failure.kept)
                            << "\n";
        display.ReportFileError(
            ListenAgainFailureWindowMessage(failure.wanted, failure.reason, failure.kept));
    }
    if (next.clientCertificateRenewal != CertificateRenewal::Kept) {
        const QString& path = settings.clientIdentity.certificatePath;
        Tell(RenewalWindowNotice(next.clientCertificateRenewal, path),
             RenewalNotice(next.clientCertificateRenewal, path));
    }
    transcript.UseFile(settings.log.file, settings.log.rotation);
    display.ShowSettings();
    display.ShowSecurityInCaption(oldSuffix);
}

void DesktopSession::ReportServerFailure(const QString& host, quint16 port, const QString& reason) {
    Tell(ServerConnectFailureMessage(host, port, reason),
         ServerConnectFailureReport(host, port, reason));
}

void DesktopSession::Tell(const QString& windowText, const QString& report) {
    QTextStream(stderr) << "quorlin: " << report << "\n";
    transcript.AddNote(report);
    display.LogNote(windowText);
    // The window hides again once the mail client has been let go: the tray says it too.
    notify.ShowMessage(Shell::Display::BaseCaption, windowText);
}

void DesktopSession::ReportNoGreeting(const QString& host, quint16 port, const QString& reason) {
    const SecurityMode mode = startup.settings.DefaultAccount().security;
    Tell(NoGreetingWindowMessage(host, port, reason, mode),
         NoGreetingReport(host, port, reason, mode));
}

void DesktopSession::EndProgram(int status) {
    ReleaseSessionResources();
    display.AllowClose();
    Q_EMIT ProgramEnded(status);
}

void DesktopSession::ReleaseSessionResources() {
    relay.CloseAll();
    if (notify.Added()) {
        notify.Remove();
    }
}
