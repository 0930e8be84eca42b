#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The captions of the lines below, in the language of whoever reads them: the first three
// take the file or a fingerprint for %1, the last two stand above the lines to paste.
struct TrustCaptions {
    QString file;
    QString sha256;
    QString md5;
    QString fetchmail;
    QString neomutt;
};
// In English, for a terminal.
TrustCaptions EnglishTrustCaptions();

// What a user needs to make mail clients trust a certificate of Quorlin's: where the file is,
// its SHA-256 and MD5 fingerprints (colon-separated upper-case hex, as openssl and fetchmail
// print them; fetchmail's sslfingerprint takes the MD5 one), and the lines to paste into
// fetchmail's and neomutt's settings, the path quoted as each of them reads it. fetchmail gets
// both sslcertfile and sslfingerprint: it checks the certificate against its authorities
// (sslcertck) whether or not a fingerprint is given.
QStringList TrustInstructions(const QString& certificatePath, const QSslCertificate& certificate,
                              const TrustCaptions& captions = EnglishTrustCaptions());
