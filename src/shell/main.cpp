#include "shell/AppOptions.h"
#include "shell/CommandLine.h"

#include <QApplication>
#include <QCoreApplication>
#include <memory>

int main(int argc, char** argv) {
    // The kind of application object decides whether a display is needed at all, so it is
    // chosen before the options are parsed.
    std::unique_ptr<QCoreApplication> app;
    if (WantsHeadless(argc, argv)) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Quorlin"));

    const std::optional<AppOptions> options = ParseCommandLine(QCoreApplication::arguments());
    if (!options) {
        return 2;
    }
    return options->headless ? RunHeadless(*options) : RunDisplay(*options);
}
