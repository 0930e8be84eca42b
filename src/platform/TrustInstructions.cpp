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

TrustCaptions EnglishTrustCaptions() {
    return {QStringLiteral("Certificate: %1"), QStringLiteral("SHA-256 fingerprint: %1"),
            QStringLiteral("MD5 fingerprint: %1"),
            QStringLiteral("fetchmail (both lines, in the poll entry of ~/.fetchmailrc):"),
            QStringLiteral("neomutt (~/.neomuttrc):")};
}

QStringList TrustInstructions(const QString& certificatePath, const QSslCertificate& certificate,
                              const TrustCaptions& captions) {
    const QString md5 = FormatFingerprint(certificate.digest(QCryptographicHash::Md5));
    return {
        captions.file.arg(certificatePath),
        captions.sha256.arg(FormatFingerprint(CertificateFingerprint(certificate))),
        captions.md5.arg(md5),
        captions.fetchmail,
        QStringLiteral("  sslcertfile %1").arg(FetchmailQuoted(certificatePath)),
        QStringLiteral("  sslfingerprint \"%1\"").arg(md5),
        captions.neomutt,
        QStringLiteral("  set certificate_file=%1").arg(DoubleQuoted(certificatePath)),
    };
}
