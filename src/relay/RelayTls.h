#pragma once

#include "platform/TlsTrust.h"
#include "relay/StlsNegotiation.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// How the relay reaches the mail server: the mode, the authorities beside the system's and the
// fingerprints pinned for this run (TlsPolicy), and where the fingerprints saved for a host
// are looked up at every connection (the host may change between connections).
struct ServerTlsSettings {
    TlsPolicy policy;
    std::function<QList<QByteArray>(const QString& host)> trustedFor;
};

// What a conversation keeps about TLS for its current server connection.
struct TlsSession {
    StlsNegotiation negotiation;
    bool negotiating = false; // plain STLS exchange under way; the server's blocks go there
};

// The reply the client gets instead of a greeting when TLS did not come about.
QByteArray TlsRefusalReply(const QString& reason);
