#pragma once

#include "platform/OwnCertificate.h"
#include "platform/Result.h"

#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

// The certificate and key Quorlin shows mail clients on its side of TLS: its own, or one the
// user gave. The file is kept for the user, who points mail clients at it.
struct TlsIdentity {
    QString certificatePath;
    QList<QSslCertificate> chain; // the certificate first, then any authorities behind it
    QSslKey key;

    bool IsNull() const { return chain.isEmpty() || key.isNull(); }
    QSslCertificate Certificate() const { return chain.value(0); }
};

TlsIdentity IdentityOf(const OwnCertificate& own);

// A certificate file (PEM, the certificate first and any intermediate authorities after it) and
// an unencrypted PEM key file of the user's: refused with the reason when either cannot be
// read, the key is not the certificate's, or the certificate is not valid at `now`.
Result<TlsIdentity> ReadTlsIdentity(const QString& certificatePath, const QString& keyPath,
                                    const QDateTime& now = QDateTime::currentDateTimeUtc());

// The server side of a TLS connection with a mail client: TLS 1.2 or later, no certificate
// asked of the client.
QSslConfiguration ServerTlsConfiguration(const TlsIdentity& identity);
