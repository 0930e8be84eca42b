#include "gui/RunDisplay.h"

#include "app/AppOptions.h"
#include "gui/DesktopSession.h"
#include "gui/DisplayTls.h"
#include "gui/QtTranslation.h"
#include "gui/TrayPictureIcons.h"
#include "platform/UnixSignals.h"

#include <QApplication>
#include <QTextStream>

#include <csignal>

int RunDisplay(const AppOptions& commandLine) {
    if (!LoadQtJapanese()) {
        QTextStream(stderr) << "quorlin: Qt's Japanese translation is not installed "
                               "(qt6-translations-l10n); dialog buttons stay English.\n";
    }
    // The window spends most of its life hidden, and a message box closing then is no reason
    // to stop: only the tray menu (or the session) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(TrayPictureIcon(TrayPicture::Idle));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorlin"));

    // Installed before the start-up's first question or message box: a signal while one is
    // open ends the program as well (leaving every event loop, so no further dialog stays up),
    // not by the signal's default action.
    DesktopSession* running = nullptr;
    bool endedDuringStart = false;
    UnixSignals unixSignals;
    unixSignals.On({SIGTERM, SIGINT, SIGHUP}, [&running, &endedDuringStart] {
        if (running) {
            // As the tray menu's 終了: the clients let go, their server connections closed
            // without QUIT, the icon taken away, status 0.
            running->Window().FEnd_Click();
            return;
        }
        endedDuringStart = true;
        QCoreApplication::exit(0);
    });

    AppOptions options = commandLine;
    for (;;) {
        DesktopSession session(options);
        // exit rather than quit: quit would first ask the window to close, which it refuses.
        QObject::connect(&session, &DesktopSession::ProgramEnded, &session,
                         [](int status) { QCoreApplication::exit(status); });
        const bool loaded = session.Form_Load();
        if (endedDuringStart) {
            return 0;
        }
        if (loaded) {
            InstallServerTls(session);
            running = &session;
            const int status = QApplication::exec();
            running = nullptr;
            return status;
        }
        if (!session.RetryWanted()) {
            return session.FailureStatus();
        }
        // What the user has just changed there wins over the command line.
        options = session.RunOptions();
    }
}
