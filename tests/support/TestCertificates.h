#pragma once

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

// Certificates made by openssl for a test (tests/support/make_test_certificates.sh says which),
// in a folder that goes with the object. Fingerprints come from openssl as well, so that no
// expectation is computed by Quorlin.
class TestCertificates {
public:
    bool Make() {
        if (!dir.isValid()) {
            return false;
        }
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral(QUORLIN_SOURCE_DIR "/tests/support/make_test_certificates.sh")});
        if (!shell.waitForFinished(60000) || shell.exitCode() != 0) {
            log = shell.readAll();
            return false;
        }
        return true;
    }

    QString Path(const QString& name) const { return dir.filePath(name + QStringLiteral(".pem")); }
    QString KeyPath(const QString& name) const {
        return dir.filePath(name + QStringLiteral(".key"));
    }
    QSslCertificate Certificate(const QString& name) const {
        return QSslCertificate::fromPath(Path(name)).value(0);
    }
    QSslKey Key(const QString& name) const {
        QFile file(KeyPath(name));
        file.open(QIODevice::ReadOnly);
        return QSslKey(file.readAll(), QSsl::Ec);
    }
    // "AB:CD:..." as openssl prints it.
    QString Fingerprint(const QString& name) const {
        QFile file(dir.filePath(name + QStringLiteral(".sha256")));
        file.open(QIODevice::ReadOnly);
        return QString::fromLatin1(file.readAll().trimmed()).section(QLatin1Char('='), 1);
    }
    QByteArray FingerprintBytes(const QString& name) const {
        return QByteArray::fromHex(Fingerprint(name).remove(QLatin1Char(':')).toLatin1());
    }

    QByteArray log;

private:
    QTemporaryDir dir;
};
