#pragma once

#include "app/AppOptions.h"
#include "app/StartupSettings.h"
#include "gui/Display.h"
#include "gui/TrayIcon.h"
#include "relay/Relay.h"

#include <QObject>
#include <QSystemTrayIcon>

// One run of the program on the desktop: the settings, the relay, the tray icon and the window,
// wired together. The window shows and edits the settings and shows what the relay asks for;
// the relay reads the settings; the tray brings the window back; ending the program closes the
// sockets and takes the icon away before anything else goes.
class DesktopSession : public QObject {
    Q_OBJECT

public:
    explicit DesktopSession(const AppOptions& options,
                            bool systemTrayAvailable = QSystemTrayIcon::isSystemTrayAvailable(),
                            QObject* parent = nullptr);
    ~DesktopSession() override;

    // The start-up sequence. False when the saved way to the mail server is unknown or
    // listening failed; the user has been told why, RetryWanted tells whether they changed the
    // settings to start again with them, and FailureStatus is the program's exit status if not.
    bool Form_Load();
    bool RetryWanted() const { return retryWanted; }
    int FailureStatus() const { return failureStatus; }

    Settings& CurrentSettings() { return startup.settings; }
    // Why the CA file of this run could not be read; empty when it could.
    const QString& CaFileProblem() const { return startup.caFileProblem; }
    Shell::Display& Window() { return display; }
    Relay& RelayCore() { return relay; }
    TrayIcon& Tray() { return notify; }

Q_SIGNALS:
    // The program is to end now with this status; sockets and icon are already gone.
    void ProgramEnded(int status);

private:
    void ReportServerFailure(const QString& host, quint16 port, const QString& reason);
    void TellClientTlsState();
    void EndProgram(int status);
    void ReleaseSessionResources();

    const AppOptions options;
    // Before the window and the relay, which hold on to it.
    StartupSettings startup;
    // Before the window, which shows the tray picture through it.
    TrayIcon notify;
    Shell::Display display;
    Relay relay;
    bool retryWanted = false;
    int failureStatus = 1;
};
