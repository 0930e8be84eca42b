#pragma once

#include "app/AppOptions.h"
#include "app/StartupSettings.h"
#include "gui/AccountChecksMenu.h"
#include "gui/Display.h"
#include "gui/TrayIcon.h"
#include "relay/Relay.h"
#include "relay/TranscriptView.h"

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
    // This run's command line, less what the user has changed in the settings dialog since.
    const AppOptions& RunOptions() const { return options; }

    // The settings files read again after the settings dialog's OK: the window's own settings
    // (the server box, the box for mail without a character set) stay as they are, the
    // conversations going on finish with what they started with, a new listen port is listened
    // on at once. A file that cannot be used keeps the settings in force, and the user is told.
    void Reload();

    Settings& CurrentSettings() { return startup.settings; }
    Shell::Display& Window() { return display; }
    Relay& RelayCore() { return relay; }
    TrayIcon& Tray() { return notify; }
    const AccountChecksMenu& AccountChecks() const { return accountChecks; }

Q_SIGNALS:
    // The program is to end now with this status; sockets and icon are already gone.
    void ProgramEnded(int status);

private:
    void TellCaFileProblem();
    void ReportServerFailure(const QString& host, quint16 port, const QString& reason);
    void TellClientTlsState();
    // A note in the server log and at the tray icon, and in English on standard error.
    void Tell(const QString& windowText, const QString& report);
    void ReportNoGreeting(const QString& host, quint16 port, const QString& reason);
    void EndProgram(int status);
    void ReleaseSessionResources();

    AppOptions options;
    // Before the window and the relay, which hold on to it.
    StartupSettings startup;
    // Before the window, which shows the tray picture through it.
    TrayIcon notify;
    Shell::Display display;
    // Between the window and the relay: the log file.
    TranscriptView transcript;
    Relay relay;
    AccountChecksMenu accountChecks;
    bool retryWanted = false;
    int failureStatus = 1;
};
