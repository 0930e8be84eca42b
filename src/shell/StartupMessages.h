#pragma once

#include <QString>

// The words the user gets when Quorlin cannot listen for the mail client: the port, the
// system's reason and, for a privileged port, the two ways around it.
QString ListenFailureMessage(quint16 port, const QString& reason);
