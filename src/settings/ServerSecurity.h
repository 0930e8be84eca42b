#pragma once

#include "platform/Result.h"
#include "platform/TlsTrust.h"
#include "settings/OptionsFile.h"

#include <QHash>

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

struct Account;

// How to reach the mail server, kept in section [Server] of the options file:
//   Security=none|tls|starttls   (none, the default, is plain TCP with an APOP login; the
//                                 settings dialog's words for the modes are taken too)
//   Port=995                     (missing: 995 for tls, 110 otherwise)
//   CaFile=/path/to/ca.pem       (authorities trusted beside the system's)
// and the certificates the user trusts per server, in section [TrustedCertificates], one key
// per host (in lower case) listing SHA-256 fingerprints, e.g.
//   mail.example.com=AB:CD:..., 01:23:...
// A missing file or key is the plain behaviour of a one-line Quorlin.ini.
struct ServerSecurity {
    SecurityMode mode = SecurityMode::None;
    std::optional<quint16> port;
    QString caFile;

    quint16 EffectivePort() const;
};

inline constexpr SecurityMode SecurityModes[] = {SecurityMode::None, SecurityMode::Tls,
                                                 SecurityMode::StartTls};
QString SecurityModeName(SecurityMode mode);  // "none", "tls", "starttls"
QString SecurityModeLabel(SecurityMode mode); // the settings dialog's: "SSL/TLS", ...
// A mode by its name or its label, in any letter case or width, spaces around ignored; nullopt
// for anything else ("ssl", "stls"): an unknown word is never taken for a mode, plain included.
std::optional<SecurityMode> ParseSecurityMode(const QString& text);
quint16 DefaultServerPort(SecurityMode mode);

// For the start-up line and the window: what the mode means in a few words.
QString SecurityModeDescription(SecurityMode mode);

// An unknown Security value reads as plain here: start-up refuses it first (below).
ServerSecurity LoadServerSecurity();
// The Security line when its value names no mode (an empty value included), for the user to
// mend: Quorlin does not start on it rather than fall back to plain text.
std::optional<OptionsFileLine> UnknownSavedSecurity();
Result<> SaveServerSecurity(const ServerSecurity& security);

// The fingerprints trusted for host; entries that are no fingerprint are left out (start-up
// has told the user of them, below).
QList<QByteArray> LoadTrustedFingerprints(const QString& host);
// Every host's, by Settings::TrustedCertificatesKey.
QHash<QString, QList<QByteArray>> LoadTrustedCertificates();
Result<> AddTrustedFingerprint(const QString& host, const QByteArray& fingerprint);

// A CA file that cannot be used: the system's reason it cannot be read, or none when it holds
// no certificate.
struct CaFileProblem {
    QString path;
    QString systemReason;
};
// In English, for standard error.
QString EnglishWords(const CaFileProblem& problem);

// The certificates of a PEM (or DER) file, or why there are none.
struct CaFileRead {
    QList<QSslCertificate> certificates;
    std::optional<CaFileProblem> problem;
};
CaFileRead ReadCaFile(const QString& path);

// Puts the mode, the port (the mode's default when none is set) and the CA file with its
// certificates (read in the TLS modes only) into the account; the run's pinned fingerprints
// stay. A CA file that cannot be read leaves the account with the system's authorities alone,
// and the problem comes back.
std::optional<CaFileProblem> ApplyServerSecurity(const ServerSecurity& security, Account& account);
