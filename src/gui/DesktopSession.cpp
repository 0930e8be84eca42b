#include "gui/DesktopSession.h"

#include "app/RelayOptions.h"
#include "app/StartupMessages.h"
#include "settings/ServerSecurity.h"

#include <QCoreApplication>
#include <QTextStream>

DesktopSession::DesktopSession(const AppOptions& appOptions, bool systemTrayAvailable,
                               QObject* parent)
    : QObject(parent), options(appOptions), notify(systemTrayAvailable),
      display(appOptions, notify), relay(display, RelayOptionsFor(appOptions)) {
    display.UseRelay(relay);
    connect(&notify, &Notify_Module::ShowRequested, &display, &Shell::Display::ShowFromUser);
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
    display.LoadSettings();
    display.PlaceAtStart();
    display.AddVersionToCaption();

    // Before any client is served: never in plain text in place of the mode the user meant.
    if (const auto unknown = UnknownSavedSecurity()) {
        retryWanted = display.ReportStartFailure(UnknownSecurityWindowMessage(*unknown));
        failureStatus = 2;
        return false;
    }
    const SocketResult listening = relay.StartListening();
    if (!listening) {
        retryWanted = display.ReportStartFailure(
            ListenFailureWindowMessage(options.listenPort, listening.error));
        return false;
    }
    notify.TrayAdd(&display, &display.SysTray());
    display.AskForServerIfNone();
    return true;
}

void DesktopSession::ReportServerFailure(const QString& reason) {
    const QString host = display.Text1();
    const QString message = ServerConnectFailureMessage(host, options.serverPort, reason);
    QTextStream(stderr) << "quorlin: "
                        << ServerConnectFailureReport(host, options.serverPort, reason) << "\n";
    display.LogNote(message);
    // The window hides again once the mail client has been let go: the tray says it too.
    notify.TrayMessage(Shell::Display::BaseCaption, message);
}

void DesktopSession::EndProgram(int status) {
    ReleaseSessionResources();
    display.AllowClose();
    Q_EMIT ProgramEnded(status);
}

void DesktopSession::ReleaseSessionResources() {
    relay.CloseAll();
    if (notify.Added()) {
        notify.TrayRemove();
    }
}
