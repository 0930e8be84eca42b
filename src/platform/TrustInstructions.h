#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// What a user needs to make mail clients trust a certificate of Quorlin's: where the file is,
// its SHA-256 and MD5 fingerprints (colon-separated upper-case hex, as openssl and fetchmail
// print them; fetchmail's sslfingerprint takes the MD5 one), and the lines to paste into
// fetchmail's and neomutt's settings, the path quoted as each of them reads it.
struct CertificateTrust {
    QString file;
    QString sha256;
    QString md5;
    // For the poll entry of ~/.fetchmailrc, both: fetchmail checks the certificate against its
    // authorities (sslcertck) whether or not a fingerprint is given.
    QStringList fetchmailLines;
    QString neomuttLine; // for ~/.neomuttrc
};
CertificateTrust TrustFor(const QString& certificatePath, const QSslCertificate& certificate);

// The same as lines of English text, for a terminal.
QStringList TrustInstructions(const QString& certificatePath, const QSslCertificate& certificate);
