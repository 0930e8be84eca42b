#include "settings/ServerSecurity.h"

#include "platform/Pop3Ports.h"
#include "platform/ServerSocket.h"
#include "settings/FileErrorMessages.h"
#include "settings/OptionsFile.h"
#include "settings/Settings.h"
#include "settings/SettingsUser.h"

#include <QFile>

namespace {

const QString ServerGroup = QStringLiteral("Server");
const QString SecurityKey = QStringLiteral("Security");
const QString PortKey = QStringLiteral("Port");
const QString CaFileKey = QStringLiteral("CaFile");
const QString TrustedGroup = QStringLiteral("TrustedCertificates");

// "[::1]" and "::1" are one host, as for the connection.
QString HostKey(const QString& host) {
    return Settings::TrustedCertificatesKey(host);
}

QList<QByteArray> ParsedFingerprints(const QStringList& texts) {
    QList<QByteArray> fingerprints;
    for (const QString& text : texts) {
        if (const auto parsed = ParseFingerprint(text)) {
            fingerprints.append(*parsed);
        }
    }
    return fingerprints;
}

Result<> Edited(const std::function<void(QSettings&)>& edit) {
    const Result<> written = EditOptionsFile(edit);
    if (!written) {
        return Result<>::Failure(
            QStringLiteral("cannot write %1: %2").arg(written.Where(), written.Error()),
            written.Where());
    }
    return written;
}

} // namespace

quint16 ServerSecurity::EffectivePort() const {
    return port.value_or(DefaultServerPort(mode));
}

QString SecurityModeName(SecurityMode mode) {
    switch (mode) {
    case SecurityMode::Tls:
        return QStringLiteral("tls");
    case SecurityMode::StartTls:
        return QStringLiteral("starttls");
    case SecurityMode::None:
        break;
    }
    return QStringLiteral("none");
}

QString SecurityModeLabel(SecurityMode mode) {
    switch (mode) {
    case SecurityMode::Tls:
        return QStringLiteral("SSL/TLS");
    case SecurityMode::StartTls:
        return QStringLiteral("STARTTLS（STLS）");
    case SecurityMode::None:
        break;
    }
    return QStringLiteral("なし（APOP）");
}

std::optional<SecurityMode> ParseSecurityMode(const QString& text) {
    // Width folded: "ｔｌｓ" from a Japanese input method, or the label typed with ASCII
    // parentheses, still names its mode.
    const auto folded = [](const QString& word) {
        return word.normalized(QString::NormalizationForm_KC).trimmed();
    };
    const QString given = folded(text);
    for (const SecurityMode mode : SecurityModes) {
        for (const QString& word : {SecurityModeName(mode), SecurityModeLabel(mode)}) {
            if (given.compare(folded(word), Qt::CaseInsensitive) == 0) {
                return mode;
            }
        }
    }
    return std::nullopt;
}

quint16 DefaultServerPort(SecurityMode mode) {
    return mode == SecurityMode::Tls ? ImplicitTlsPop3Port : PlainPop3Port;
}

QString SecurityModeDescription(SecurityMode mode) {
    switch (mode) {
    case SecurityMode::Tls:
        return QStringLiteral("TLS");
    case SecurityMode::StartTls:
        return QStringLiteral("STLS");
    case SecurityMode::None:
        break;
    }
    return QStringLiteral("plain, APOP");
}

ServerSecurity LoadServerSecurity() {
    const auto file = OpenOptionsFile();
    file->beginGroup(ServerGroup);
    ServerSecurity security;
    security.mode =
        ParseSecurityMode(file->value(SecurityKey).toString()).value_or(SecurityMode::None);
    bool ok = false;
    const uint port = file->value(PortKey).toUInt(&ok);
    if (ok && port > 0 && port <= 65535) {
        security.port = static_cast<quint16>(port);
    }
    security.caFile = file->value(CaFileKey).toString();
    return security;
}

std::optional<OptionsFileLine> UnknownSavedSecurity() {
    const auto file = OpenOptionsFile();
    file->beginGroup(ServerGroup);
    if (!file->contains(SecurityKey) || ParseSecurityMode(file->value(SecurityKey).toString())) {
        return std::nullopt;
    }
    OptionsFileLine line = FindOptionsFileLine(ServerGroup, SecurityKey);
    if (line.number == 0) {
        line.text = SecurityKey + QLatin1Char('=') + file->value(SecurityKey).toString();
    }
    return line;
}

Result<> SaveServerSecurity(const ServerSecurity& security) {
    return Edited([&security](QSettings& file) {
        file.beginGroup(ServerGroup);
        file.setValue(SecurityKey, SecurityModeName(security.mode));
        if (security.port) {
            file.setValue(PortKey, *security.port);
        } else {
            file.remove(PortKey);
        }
        if (security.caFile.isEmpty()) {
            file.remove(CaFileKey);
        } else {
            file.setValue(CaFileKey, security.caFile);
        }
        file.endGroup();
    });
}

QList<QByteArray> LoadTrustedFingerprints(const QString& host) {
    const auto file = OpenOptionsFile();
    file->beginGroup(TrustedGroup);
    return ParsedFingerprints(file->value(HostKey(host)).toStringList());
}

QHash<QString, QList<QByteArray>> LoadTrustedCertificates() {
    const auto file = OpenOptionsFile();
    file->beginGroup(TrustedGroup);
    QHash<QString, QList<QByteArray>> trusted;
    for (const QString& key : file->childKeys()) {
        trusted.insert(HostKey(key), ParsedFingerprints(file->value(key).toStringList()));
    }
    return trusted;
}

void ReportUnusableTrustedFingerprints(SettingsUser& user) {
    const auto file = OpenOptionsFile();
    file->beginGroup(TrustedGroup);
    QStringList problems;
    for (const QString& host : file->childKeys()) {
        for (const QString& text : file->value(host).toStringList()) {
            QString why;
            if (!ParseFingerprint(text, &why)) {
                const OptionsFileLine line = FindOptionsFileLine(TrustedGroup, host);
                problems.append(
                    UnusableSettingText(line.number, host + QLatin1Char('=') + text, why));
            }
        }
    }
    if (!problems.isEmpty()) {
        user.ReportFileError(UnusableSettingsMessage(OptionsFilePath(), problems));
    }
}

Result<> AddTrustedFingerprint(const QString& host, const QByteArray& fingerprint) {
    return Edited([&host, &fingerprint](QSettings& file) {
        file.beginGroup(TrustedGroup);
        QStringList listed = file.value(HostKey(host)).toStringList();
        const QString formatted = FormatFingerprint(fingerprint);
        if (!listed.contains(formatted)) {
            listed.append(formatted);
        }
        file.setValue(HostKey(host), listed);
        file.endGroup();
    });
}

Result<QList<QSslCertificate>> LoadCaFile(const QString& path) {
    using Certificates = Result<QList<QSslCertificate>>;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Certificates::Failure(
            QStringLiteral("cannot read the CA file %1: %2").arg(path, file.errorString()), path);
    }
    const QByteArray data = file.readAll();
    QList<QSslCertificate> certificates = QSslCertificate::fromData(data, QSsl::Pem);
    if (certificates.isEmpty()) {
        certificates = QSslCertificate::fromData(data, QSsl::Der);
    }
    if (certificates.isEmpty()) {
        return Certificates::Failure(
            QStringLiteral("the CA file %1 holds no certificate").arg(path), path);
    }
    return certificates;
}

Result<> ApplyServerSecurity(const ServerSecurity& security, Account& account) {
    account.security = security.mode;
    account.port = security.EffectivePort();
    account.caFile = security.caFile;
    account.caCertificates.clear();
    if (security.caFile.isEmpty()) {
        return {};
    }
    const Result<QList<QSslCertificate>> authorities = LoadCaFile(security.caFile);
    if (!authorities) {
        return Result<>::FailureOf(authorities);
    }
    account.caCertificates = authorities.Value();
    return {};
}
