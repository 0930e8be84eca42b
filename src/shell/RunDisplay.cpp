#include "platform/ProgramFiles.h"
#include "shell/AppOptions.h"
#include "shell/Display.h"
#include "shell/DisplayTls.h"
#include "shell/ImageList1.h"

#include <QApplication>

int RunDisplay(const AppOptions& options) {
    if (options.configDir) {
        SetProgramDirectory(*options.configDir);
    }
    // The window spends most of its life hidden, and a message box closing then is no reason
    // to stop: only the tray menu (or the session) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ImageList1::Picture(1));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorlin"));

    Shell::Display display(options);
    // exit rather than quit: quit would first ask the window to close, which it refuses.
    QObject::connect(&display, &Shell::Display::ProgramEnded, &display,
                     [](int status) { QCoreApplication::exit(status); });
    if (!display.Form_Load()) {
        return 1;
    }
    InstallServerTls(display, options);
    return QApplication::exec();
}
