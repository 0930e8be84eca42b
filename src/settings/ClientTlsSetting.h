#pragma once

#include "platform/OwnCertificate.h"
#include "platform/Result.h"
#include "platform/TlsIdentity.h"

#include <QString>
#include <optional>

// Quorlin's side of TLS toward the mail clients, kept in section [ClientTls] of the options file:
//   Enabled=true|false   (true, the default: STLS, and SASL PLAIN and LOGIN, offered; false:
//                         neither, CAPA, STLS and AUTH answered as without them)
//   Port=995             (where TLS starts at the first byte; missing or 0: nowhere)
//   Certificate=/path/to/cert.pem and Key=/path/to/key.pem (the user's own, both or neither;
//                         neither: Quorlin's own, made in the settings folder when needed)
struct ClientTlsSetting {
    bool enabled = true;
    quint16 implicitPort = 0;
    QString certificateFile;
    QString keyFile;

    bool operator==(const ClientTlsSetting&) const = default;
};

ClientTlsSetting LoadClientTlsSetting();
// Writes the fields of `now` that differ from `was`, and only those: the others may hold what
// the user wrote there in words of their own, or be this run's command line, not to be saved.
Result<> SaveClientTlsChanges(const ClientTlsSetting& was, const ClientTlsSetting& now);

// The certificate mail clients are shown this run: the user's pair, or Quorlin's own (kept, or
// made anew with the reason in `renewal`). A null identity and the reason when there is none.
struct ClientIdentity {
    TlsIdentity identity;
    CertificateRenewal renewal = CertificateRenewal::Kept;
    QString problem;
};
ClientIdentity LoadClientIdentity(const ClientTlsSetting& setting);
