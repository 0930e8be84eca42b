#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// What a user needs to make mail clients trust a certificate of Quorlin's: where the file is,
// its SHA-256 and MD5 fingerprints (colon-separated upper-case hex, as openssl and fetchmail
// print them; fetchmail's sslfingerprint takes the MD5 one), and the lines to paste into
// fetchmail's and neomutt's settings, the path quoted as each of them reads it.
QStringList TrustInstructions(const QString& certificatePath, const QSslCertificate& certificate);
