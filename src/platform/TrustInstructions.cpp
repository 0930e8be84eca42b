#include "platform/TrustInstructions.h"

#include "platform/DoubleQuoted.h"
#include "platform/TlsTrust.h"

#include <QCryptographicHash>

namespace {

// fetchmail's run control file reads "\xhh" in a quoted string; a quote or a backslash could
// otherwise end the string or start another escape.
QString FetchmailQuoted(const QString& text) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"') {
            quoted += u"\\x22";
        } else if (c == u'\\') {
            quoted += u"\\x5c";
        } else {
            quoted += c;
        }
    }
    return quoted + u'"';
}

} // namespace

CertificateTrust TrustFor(const QString& certificatePath, const QSslCertificate& certificate) {
    const QString md5 = FormatFingerprint(certificate.digest(QCryptographicHash::Md5));
    return {certificatePath,
            FormatFingerprint(CertificateFingerprint(certificate)),
            md5,
            {QStringLiteral("sslcertfile %1").arg(FetchmailQuoted(certificatePath)),
             QStringLiteral("sslfingerprint \"%1\"").arg(md5)},
            QStringLiteral("set certificate_file=%1").arg(DoubleQuoted(certificatePath))};
}

QStringList TrustInstructions(const QString& certificatePath, const QSslCertificate& certificate) {
    const CertificateTrust trust = TrustFor(certificatePath, certificate);
    QStringList lines{
        QStringLiteral("Certificate: %1").arg(trust.file),
        QStringLiteral("SHA-256 fingerprint: %1").arg(trust.sha256),
        QStringLiteral("MD5 fingerprint: %1").arg(trust.md5),
        QStringLiteral("fetchmail (both lines, in the poll entry of ~/.fetchmailrc):"),
    };
    for (const QString& line : trust.fetchmailLines) {
        lines.append(QStringLiteral("  ") + line);
    }
    lines.append(QStringLiteral("neomutt (~/.neomuttrc):"));
    lines.append(QStringLiteral("  ") + trust.neomuttLine);
    return lines;
}
