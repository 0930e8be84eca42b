#include "gui/DesktopSession.h"

#include "app/StartupMessages.h"
#include "settings/BlockedList.h"
#include "settings/ServerSecurity.h"
#include "settings/ServerSetting.h"

#include <QCoreApplication>
#include <QTextStream>

DesktopSession::DesktopSession(const AppOptions& appOptions, bool systemTrayAvailable,
                               QObject* parent)
    : QObject(parent), options(appOptions), startup(LoadStartupSettings(appOptions)),
      notify(systemTrayAvailable), display(startup.settings, notify),
      relay(display, startup.settings) {
    display.UseRelay(relay);
    connect(&notify, &TrayIcon::ShowRequested, &display, &Shell::Display::ShowFromUser);
    connect(&display, &Shell::Display::EndRequested, this, &DesktopSession::EndProgram);

    connect(&relay, &Relay::ServerConnectFailed, this, &DesktopSession::ReportServerFailure);

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
    if (!options.server) {
        LoadServerSetting(settings, display);
    }
    LoadBlockedList(settings, display);
    ReportUnusableTrustedFingerprints(display);
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
    for (const auto& [listen, port] :
         {std::pair{&Relay::StartListening, settings.listen.port},
          std::pair{&Relay::StartImplicitTlsListening, settings.clientTls.implicitPort}}) {
        const Result<> listening = (relay.*listen)();
        if (!listening) {
            retryWanted =
                display.ReportStartFailure(ListenFailureWindowMessage(port, listening.Error()));
            return false;
        }
    }
    notify.Add(&display, &display.SysTray());
    TellClientTlsState();
    display.AskForServerIfNone();
    return true;
}

// The certificate for the mail clients made anew, or none to be had: the user must know, since
// mail clients that trusted the old one refuse the new one.
void DesktopSession::TellClientTlsState() {
    QString message;
    if (!startup.clientTlsProblem.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << ClientTlsProblemMessage(startup.clientTlsProblem)
                            << "\n";
        message = ClientTlsProblemWindowMessage(startup.clientTlsProblem);
    } else if (startup.clientCertificateRenewal != CertificateRenewal::Kept) {
        const QString& path = startup.settings.clientIdentity.certificatePath;
        QTextStream(stderr) << "quorlin: " << RenewalNotice(startup.clientCertificateRenewal, path)
                            << "\n";
        message = RenewalWindowNotice(startup.clientCertificateRenewal, path);
    }
    if (!message.isEmpty()) {
        display.LogNote(message);
        notify.ShowMessage(Shell::Display::BaseCaption, message);
    }
}

void DesktopSession::ReportServerFailure(const QString& host, quint16 port, const QString& reason) {
    const QString message = ServerConnectFailureMessage(host, port, reason);
    QTextStream(stderr) << "quorlin: " << ServerConnectFailureReport(host, port, reason) << "\n";
    display.LogNote(message);
    // The window hides again once the mail client has been let go: the tray says it too.
    notify.ShowMessage(Shell::Display::BaseCaption, message);
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
