#include "platform/OwnCertificate.h"

#include "platform/PrivateFile.h"
#include "platform/SelfSignedCertificate.h"

#include <QDir>
#include <QFile>

namespace {

// The pair in the folder as it is, and whether it may be kept.
CertificateRenewal Judge(OwnCertificate& own, const QDateTime& now) {
    if (!QFile::exists(own.certificatePath) || !QFile::exists(own.keyPath)) {
        return CertificateRenewal::Missing;
    }
    const Result<QByteArray> certificatePem = ReadBytes(own.certificatePath);
    const Result<QByteArray> keyPem = ReadBytes(own.keyPath);
    if (!certificatePem || !keyPem) {
        return CertificateRenewal::Unreadable;
    }
    own.certificate = QSslCertificate(certificatePem.Value(), QSsl::Pem);
    own.key = PrivateKeyFromPem(keyPem.Value());
    if (own.certificate.isNull() || own.key.isNull()) {
        return CertificateRenewal::Unreadable;
    }
    if (!KeyMatchesCertificate(certificatePem.Value(), keyPem.Value())) {
        return CertificateRenewal::Mismatched;
    }
    if (own.certificate.effectiveDate() > now ||
        own.certificate.expiryDate() <= now.addDays(CertificateRenewalDays)) {
        return CertificateRenewal::OutOfDate;
    }
    return CertificateRenewal::Kept;
}

} // namespace

OwnCertificate EnsureOwnCertificate(const QString& folder, const QString& hostName,
                                    const QDateTime& now) {
    OwnCertificate own;
    own.certificatePath = QDir(folder).filePath(QLatin1String(OwnCertificateFileName));
    own.keyPath = QDir(folder).filePath(QLatin1String(OwnKeyFileName));
    own.renewal = Judge(own, now);
    if (own.renewal == CertificateRenewal::Kept) {
        return own;
    }
    own.certificate.clear();
    own.key.clear();

    const MadeCertificate made = MakeSelfSignedCertificate(hostName, now);
    if (!made.error.isEmpty()) {
        own.error = made.error;
        return own;
    }
    // The key first: a certificate without its key is never left behind as if usable. A key
    // without its certificate is found missing next time and made anew.
    Result<> written = WritePrivateBytes(own.keyPath, made.keyPem);
    if (written) {
        written = WriteBytes(own.certificatePath, made.certificatePem);
    }
    if (!written) {
        own.error = QStringLiteral("%1: %2").arg(written.Where(), written.Error());
        return own;
    }
    own.certificate = QSslCertificate(made.certificatePem, QSsl::Pem);
    own.key = QSslKey(made.keyPem, QSsl::Ec);
    return own;
}

RenewalWords EnglishRenewalWords() {
    return {QStringLiteral("Quorlin made its own certificate for TLS with mail clients: %1"),
            QStringLiteral("Quorlin's certificate for TLS with mail clients %1 and was made anew: "
                           "%2. Mail clients that trusted the old one must be given the new one."),
            QStringLiteral("could not be read"), QStringLiteral("did not match its key"),
            QStringLiteral("had expired or was about to")};
}

QString RenewalNotice(CertificateRenewal renewal, const QString& certificatePath,
                      const RenewalWords& words) {
    switch (renewal) {
    case CertificateRenewal::Kept:
        return {};
    case CertificateRenewal::Missing:
        return words.made.arg(certificatePath);
    case CertificateRenewal::Unreadable:
        return words.remade.arg(words.unreadable, certificatePath);
    case CertificateRenewal::Mismatched:
        return words.remade.arg(words.mismatched, certificatePath);
    case CertificateRenewal::OutOfDate:
        return words.remade.arg(words.outOfDate, certificatePath);
    }
    return {};
}
