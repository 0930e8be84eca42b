#include "shell/StartupMessages.h"

#include <QCoreApplication>

QString ListenFailureMessage(quint16 port, const QString& reason) {
    QString message = QStringLiteral("Quorlin cannot listen for the mail client on port %1: %2")
                          .arg(port)
                          .arg(reason);
    if (port < 1024) {
        message += QStringLiteral(
                       "\nPorts below 1024 need a privilege. Either choose another port with "
                       "--listen-port (for example --listen-port 1110) and point the mail client "
                       "at it, or give the program the privilege once with:\n"
                       "  sudo setcap cap_net_bind_service=+ep %1")
                       .arg(QCoreApplication::applicationFilePath());
    }
    return message;
}
