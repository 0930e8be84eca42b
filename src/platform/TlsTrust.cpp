#include "platform/TlsTrust.h"

#include <QCryptographicHash>

namespace {

// The fullwidth forms (U+FF01 to U+FF5E) lie this far above their ASCII selves.
constexpr char32_t FullwidthOffset = 0xFEE0;

bool IsAsciiHexDigit(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
}

// ０ to ９ and ：, Ａ to Ｆ, ａ to ｆ; no other fullwidth character.
bool IsFullwidthHexOrColon(char32_t c) {
    return c >= FullwidthOffset + U'0' && c <= FullwidthOffset + U'f' &&
           (IsAsciiHexDigit(c - FullwidthOffset) || c - FullwidthOffset == U':');
}

// Faults a pinned certificate stands in for: who issued it, and which name it carries.
bool PinCanOverride(QSslError::SslError error) {
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::InvalidCaCertificate:
    case QSslError::HostNameMismatch:
        return true;
    default:
        return false;
    }
}

QString Names(const QStringList& parts) {
    return parts.join(QStringLiteral(", "));
}

QString DistinguishedName(const QSslCertificate& certificate, bool issuer) {
    const auto info = [&](QSslCertificate::SubjectInfo field) {
        return issuer ? certificate.issuerInfo(field) : certificate.subjectInfo(field);
    };
    QStringList parts;
    const std::pair<const char*, QSslCertificate::SubjectInfo> fields[] = {
        {"CN", QSslCertificate::CommonName},
        {"O", QSslCertificate::Organization},
        {"OU", QSslCertificate::OrganizationalUnitName},
        {"C", QSslCertificate::CountryName},
    };
    for (const auto& [label, field] : fields) {
        for (const QString& value : info(field)) {
            parts.append(QStringLiteral("%1=%2").arg(QLatin1String(label), value));
        }
    }
    return Names(parts);
}

} // namespace

QString EnglishWords(const FingerprintProblem& problem) {
    if (!problem.notHexDigit.isEmpty()) {
        return QStringLiteral("\"%1\" is not a hex digit (0-9, A-F)").arg(problem.notHexDigit);
    }
    return QStringLiteral("%1 hex digits where a SHA-256 fingerprint has %2")
        .arg(problem.digits)
        .arg(FingerprintProblem::DigitsWanted);
}

std::optional<QByteArray> ParseFingerprint(const QString& text, FingerprintProblem* why) {
    const auto refuse = [why](const FingerprintProblem& problem) {
        if (why) {
            *why = problem;
        }
        return std::nullopt;
    };
    QByteArray hex;
    for (const char32_t given : text.trimmed().toUcs4()) {
        const char32_t c = IsFullwidthHexOrColon(given) ? given - FullwidthOffset : given;
        if (c == U':' || c == U' ') {
            continue;
        }
        if (!IsAsciiHexDigit(c)) {
            return refuse({QString::fromUcs4(&given, 1), 0});
        }
        hex.append(char(c));
    }
    if (hex.size() != FingerprintProblem::DigitsWanted) {
        return refuse({QString(), hex.size()});
    }
    return QByteArray::fromHex(hex);
}

QString FormatFingerprint(const QByteArray& fingerprint) {
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}

QByteArray CertificateFingerprint(const QSslCertificate& certificate) {
    return certificate.digest(QCryptographicHash::Sha256);
}

QString ShortReason(QSslError::SslError error) {
    switch (error) {
    case QSslError::CertificateExpired:
        return TlsReason::Expired;
    case QSslError::CertificateNotYetValid:
        return TlsReason::NotYetValid;
    case QSslError::HostNameMismatch:
        return TlsReason::OtherHost;
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return TlsReason::SelfSigned;
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::InvalidCaCertificate:
        return TlsReason::UntrustedIssuer;
    case QSslError::CertificateRevoked:
        return TlsReason::Revoked;
    default:
        return QSslError(error).errorString();
    }
}

TrustDecision DecideTrust(const QList<QSslError>& errors, const QSslCertificate& leaf,
                          const QList<QByteArray>& pinnedFingerprints) {
    if (errors.isEmpty()) {
        return {true, {}};
    }
    // Every fault in a few words, those a pin cannot mend first.
    QStringList reasons;
    bool pinCanMend = true;
    for (const bool overridable : {false, true}) {
        for (const QSslError& error : errors) {
            if (PinCanOverride(error.error()) != overridable) {
                continue;
            }
            pinCanMend = pinCanMend && overridable;
            const QString reason = ShortReason(error.error());
            if (!reasons.contains(reason)) {
                reasons.append(reason);
            }
        }
    }
    const bool pinned = !leaf.isNull() && pinnedFingerprints.contains(CertificateFingerprint(leaf));
    if (pinCanMend && pinned) {
        return {true, {}};
    }
    if (pinCanMend && !pinnedFingerprints.isEmpty()) {
        reasons.append(TlsReason::NotPinned);
    }
    return {false, reasons.join(TlsReason::Separator)};
}

CertificateSummary Summarize(const QSslCertificate& certificate) {
    CertificateSummary summary;
    if (certificate.isNull()) {
        return summary;
    }
    summary.isNull = false;
    summary.subject = DistinguishedName(certificate, false);
    summary.issuer = DistinguishedName(certificate, true);
    summary.notBefore = certificate.effectiveDate().toUTC();
    summary.notAfter = certificate.expiryDate().toUTC();
    summary.fingerprint = FormatFingerprint(CertificateFingerprint(certificate));
    return summary;
}

QString DescribeFailure(const TlsFailure& failure) {
    QString text = QStringLiteral("TLS to the mail server %1:%2 failed: %3")
                       .arg(failure.host)
                       .arg(failure.port)
                       .arg(failure.reason);
    const CertificateSummary summary = Summarize(failure.certificate);
    if (summary.isNull) {
        return text;
    }
    const auto date = [](const QDateTime& when) {
        return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
    };
    text += QStringLiteral("\n  subject: %1\n  issuer: %2\n  valid: %3 to %4\n  SHA-256: %5")
                .arg(summary.subject, summary.issuer, date(summary.notBefore),
                     date(summary.notAfter), summary.fingerprint);
    return text;
}
