#pragma once

#include <QDateTime>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// Quorlin's own certificate and key for the mail client's side of TLS, kept in the settings
// folder and made there when they are not fit for use.
inline constexpr char OwnCertificateFileName[] = "Quorlin_Certificate.pem";
inline constexpr char OwnKeyFileName[] = "Quorlin_Key.pem";
// A certificate this close to its end is made anew rather than left to run out between two
// starts.
inline constexpr int CertificateRenewalDays = 30;

// Why the pair was made anew, or Kept when the files in the folder were used.
enum class CertificateRenewal {
    Kept,
    Missing,    // the certificate or the key was not there
    Unreadable, // one of them could not be read as PEM
    Mismatched, // the key does not belong to the certificate
    OutOfDate,  // expired, expiring within CertificateRenewalDays, or not valid yet
};

struct OwnCertificate {
    QString certificatePath;
    QString keyPath;
    QSslCertificate certificate;
    QSslKey key;
    CertificateRenewal renewal = CertificateRenewal::Kept;
    QString error; // why there is no usable pair; empty when there is
};

// Keeps a valid pair in `folder`, or makes one for `hostName` (QSysInfo::machineHostName())
// and writes it there: the key readable by the user alone, each file written whole or not at
// all.
OwnCertificate EnsureOwnCertificate(const QString& folder, const QString& hostName,
                                    const QDateTime& now = QDateTime::currentDateTimeUtc());

// The words of a notice about a pair made anew, in the language of whoever reads them: `made`
// (a pair where there was none) takes the file for %1, `remade` the reason for %1 and the file
// for %2.
struct RenewalWords {
    QString made;
    QString remade;
    QString unreadable;
    QString mismatched;
    QString outOfDate;
};
// In English, for a terminal.
RenewalWords EnglishRenewalWords();

// What the user is told about a pair made anew; empty when the old one was kept.
QString RenewalNotice(CertificateRenewal renewal, const QString& certificatePath,
                      const RenewalWords& words = EnglishRenewalWords());
