#pragma once

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

// Certificates made by openssl for a test, in a folder that goes with the object:
//   ca       a test authority
//   good     for 127.0.0.1 and localhost, from ca
//   other    for other.example only, from ca
//   expired  for 127.0.0.1 and localhost, from ca, valid only in January 2020
//   self     for 127.0.0.1 and localhost, self-signed
//   self2    the same names, another self-signed certificate
// Fingerprints come from openssl as well, so that no expectation is computed by Quorlin.
class TestCertificates {
public:
    bool Make() {
        if (!dir.isValid()) {
            return false;
        }
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-ec"), QString::fromLatin1(Script)});
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
    static constexpr char Script[] = R"(
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1.key" \
          -out "$1.csr" -subj "/CN=$2" 2>/dev/null; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 30 -subj "/CN=Quorlin Test CA" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > local.ext
printf 'subjectAltName=DNS:other.example\n' > other.ext
key good localhost
openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out good.pem -days 30 \
    -extfile local.ext 2>/dev/null
key other other.example
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out other.pem \
    -days 30 -extfile other.ext 2>/dev/null
key expired localhost
printf '[ca]\ndefault_ca=t\n[t]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n' > ca.cnf
printf 'default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n' >> ca.cnf
: > index.txt
echo 1000 > serial
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
    -startdate 20200101000000Z -enddate 20200201000000Z -extfile local.ext -notext 2>/dev/null
for n in self self2; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $n.key \
      -out $n.pem -days 30 -subj /CN=localhost \
      -addext subjectAltName=IP:127.0.0.1,DNS:localhost 2>/dev/null
done
for n in ca good other expired self self2; do
  openssl x509 -in $n.pem -noout -fingerprint -sha256 > $n.sha256
done
)";

    QTemporaryDir dir;
};
