#pragma once

#include "app/AppOptions.h"
#include "settings/ServerSecurity.h"

#include <QByteArray>
#include <QList>

class Relay;

// How this run reaches the mail server: the saved [Server] settings, with --security,
// --server-port, --ca-file and --trust-fingerprint put over them for this run only.
struct ServerTlsSetup {
    ServerSecurity security; // its port is always set
    QList<QByteArray> runFingerprints;
};

// Without --security the saved port (or the saved mode's default) holds; with it, the saved
// port belonged to another choice, so --server-port or the new mode's default is taken.
ServerTlsSetup ResolveServerTls(const AppOptions& options, const ServerSecurity& saved);

// Gives the relay the mode, port, authorities and fingerprints; the fingerprints saved for a
// host are looked up at every connection. False with the reason when the CA file cannot be
// read: the relay then trusts only the system's authorities and the pinned certificates.
bool ApplyServerTls(Relay& relay, const ServerTlsSetup& setup, QString* why);

// "host:port (TLS)": for the start-up line and the window.
QString ServerDescription(const QString& host, const ServerTlsSetup& setup);

// The lines the headless log shows after a refused TLS connection: the failure with the
// certificate, and how to trust that certificate if it is the right one.
QString TlsFailureReport(const TlsFailure& failure);
