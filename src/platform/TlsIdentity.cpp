#include "platform/TlsIdentity.h"

#include "platform/ProgramFiles.h"
#include "platform/SelfSignedCertificate.h"

#include <QSslSocket>

TlsIdentity IdentityOf(const OwnCertificate& own) {
    if (!own.error.isEmpty() || own.certificate.isNull() || own.key.isNull()) {
        return {};
    }
    return {own.certificatePath, {own.certificate}, own.key};
}

Result<TlsIdentity> ReadTlsIdentity(const QString& certificatePath, const QString& keyPath,
                                    const QDateTime& now) {
    using Identity = Result<TlsIdentity>;
    const Result<QByteArray> certificatePem = ReadBytes(certificatePath);
    if (!certificatePem) {
        return Identity::Failure(certificatePem.Error(), certificatePath);
    }
    const Result<QByteArray> keyPem = ReadBytes(keyPath);
    if (!keyPem) {
        return Identity::Failure(keyPem.Error(), keyPath);
    }
    TlsIdentity identity{certificatePath,
                         QSslCertificate::fromData(certificatePem.Value(), QSsl::Pem),
                         PrivateKeyFromPem(keyPem.Value())};
    if (identity.chain.isEmpty()) {
        return Identity::Failure(QStringLiteral("no PEM certificate in the file"), certificatePath);
    }
    if (identity.key.isNull()) {
        return Identity::Failure(QStringLiteral("no unencrypted PEM private key in the file"),
                                 keyPath);
    }
    if (!KeyMatchesCertificate(certificatePem.Value(), keyPem.Value())) {
        return Identity::Failure(
            QStringLiteral("the key does not belong to the certificate %1").arg(certificatePath),
            keyPath);
    }
    const QSslCertificate& certificate = identity.chain.first();
    if (certificate.effectiveDate() > now || certificate.expiryDate() <= now) {
        return Identity::Failure(QStringLiteral("the certificate is valid only from %1 to %2")
                                     .arg(certificate.effectiveDate().toString(Qt::ISODate),
                                          certificate.expiryDate().toString(Qt::ISODate)),
                                 certificatePath);
    }
    return identity;
}

QSslConfiguration ServerTlsConfiguration(const TlsIdentity& identity) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setLocalCertificateChain(identity.chain);
    configuration.setPrivateKey(identity.key);
    return configuration;
}
