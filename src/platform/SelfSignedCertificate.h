#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSslKey>
#include <QString>

// The few things Qt's TLS classes cannot do with a certificate and key, done with OpenSSL's
// own functions: making a key and a self-signed certificate, telling whether a key belongs to
// a certificate, and reading a key whose algorithm is not known beforehand.

// A certificate for Quorlin's side of the mail client's TLS, made for this machine: an ECDSA
// P-256 key; names localhost, 127.0.0.1, ::1 and `hostName` (left out when it is no DNS name);
// valid from a day before `now` (clocks differ) for ValidityDays; a random serial number; for
// TLS servers only, not a certificate authority.
struct MadeCertificate {
    QByteArray certificatePem;
    QByteArray keyPem; // PKCS #8, unencrypted
    QString error;     // empty when both were made
};
inline constexpr int CertificateValidityDays = 5 * 365;
MadeCertificate MakeSelfSignedCertificate(const QString& hostName, const QDateTime& now);

// The private key is the one whose public half the certificate carries.
bool KeyMatchesCertificate(const QByteArray& certificatePem, const QByteArray& keyPem);

// An unencrypted PEM private key of any algorithm Qt takes (RSA, EC, DSA); a null key when the
// text holds none.
QSslKey PrivateKeyFromPem(const QByteArray& keyPem);
