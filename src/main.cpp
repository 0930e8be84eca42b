#include "app/AppOptions.h"
#include "app/ClientCertificateReport.h"
#include "app/CommandLine.h"
#include "gui/RunDisplay.h"
#include "headless/RunHeadless.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("Quorlin"));

    // Parsed before any application object exists, because the kind of object (with or without
    // a display) follows from the options.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const std::optional<AppOptions> options = ParseCommandLine(arguments);
    if (!options) {
        return 2;
    }
    if (options->printClientCertificate) {
        QCoreApplication app(argc, argv);
        return PrintClientCertificate(*options);
    }
    if (options->headless) {
        QCoreApplication app(argc, argv);
        return RunHeadless(*options);
    }
    QApplication app(argc, argv);
    return RunDisplay(*options);
}
