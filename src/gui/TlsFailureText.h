#pragma once

#include "platform/TlsTrust.h"

#include <QString>

// A refused TLS connection in the window's words: the server and port, and each reason in
// Japanese. Reasons the relay does not word itself (the system's, already in the user's language
// where Qt's translation is installed) are shown as they come.
QString TlsRefusalMessage(const TlsFailure& failure);
QString JapaneseTlsReason(const QString& reason);
