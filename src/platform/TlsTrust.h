#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <optional>

// How Quorlin reaches the mail server: plain TCP with APOP, TLS from the first byte, or plain
// TCP turned into TLS with STLS right after the greeting.
enum class SecurityMode { None, Tls, StartTls };

// What the connection to the mail server trusts beyond the system's authorities: the
// certificates of a CA file, and certificates pinned by their SHA-256 fingerprint (32 bytes).
struct TlsPolicy {
    SecurityMode mode = SecurityMode::None;
    QList<QSslCertificate> extraAuthorities;
    QList<QByteArray> pinnedFingerprints;
};

// Why a text is no SHA-256 fingerprint: a character that is no hex digit, or else the wrong
// count of digits. Each caller words it in its user's language.
struct FingerprintProblem {
    QString notHexDigit; // the first such character; empty when the count is wrong
    qsizetype digits = 0;
    static constexpr qsizetype DigitsWanted = 64;
};
// In English, for standard error and the command line.
QString EnglishWords(const FingerprintProblem& problem);

// A SHA-256 fingerprint as a person writes it: 64 ASCII hex digits, in either case, with or
// without colons or spaces between the bytes; the fullwidth digits, letters A to F and colon a
// Japanese input method types are taken as their ASCII selves. Gives the 32 bytes, or nullopt
// with the problem for anything else.
std::optional<QByteArray> ParseFingerprint(const QString& text, FingerprintProblem* why = nullptr);

// The 32 bytes as upper-case hex pairs joined by colons, the way openssl prints them.
QString FormatFingerprint(const QByteArray& fingerprint);

QByteArray CertificateFingerprint(const QSslCertificate& certificate);

// The verdict on a certificate the handshake found fault with. A pinned certificate stands in
// for the authority and host name checks, but not for its validity period: a pinned
// certificate that has expired is refused like any other.
struct TrustDecision {
    bool accepted = false;
    QString reason; // in a few words, when refused
};
TrustDecision DecideTrust(const QList<QSslError>& errors, const QSslCertificate& leaf,
                          const QList<QByteArray>& pinnedFingerprints);

// The few words a user gets for a certificate fault.
QString ShortReason(QSslError::SslError error);

// What the user is shown about a certificate that was refused.
struct CertificateSummary {
    QString subject;
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
    QString fingerprint; // formatted
    bool isNull = true;
};
CertificateSummary Summarize(const QSslCertificate& certificate);

// The few words for why a TLS connection to the mail server did not come about, in English for
// the logs and the mail client's "-ERR" line; the window shows each in Japanese. Several reasons
// for one refusal are joined by Separator.
namespace TlsReason {
inline const QString Expired = QStringLiteral("the certificate has expired");
inline const QString NotYetValid = QStringLiteral("the certificate is not valid yet");
inline const QString OtherHost = QStringLiteral("the certificate is for another host name");
inline const QString SelfSigned = QStringLiteral("the certificate is self-signed and not trusted");
inline const QString UntrustedIssuer =
    QStringLiteral("the certificate is not from a trusted authority");
inline const QString Revoked = QStringLiteral("the certificate has been revoked");
inline const QString NotPinned = QStringLiteral("it is not the pinned one");
inline const QString ConnectionRefused = QStringLiteral("the mail server refused the connection");
inline const QString NoStls = QStringLiteral("the mail server does not offer STLS");
inline const QString StlsRefused = QStringLiteral("the mail server refused STLS");
inline const QString DataAfterStls = QStringLiteral("the mail server sent data right after STLS");
inline const QString Separator = QStringLiteral("; ");
} // namespace TlsReason

// Why the TLS connection to the mail server did not come about, with the certificate the
// server showed (null when none came, for instance a server that refused STLS).
struct TlsFailure {
    QString host;
    quint16 port = 0;
    QString reason;
    QSslCertificate certificate;
};

// Several lines for a log: the reason, then subject, issuer, validity and fingerprint.
QString DescribeFailure(const TlsFailure& failure);
