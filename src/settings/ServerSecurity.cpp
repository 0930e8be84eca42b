#include "settings/ServerSecurity.h"

#include "platform/Pop3Ports.h"
#include "platform/ServerSocket.h"
#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"
#include "settings/Settings.h"

#include <QFile>

namespace {

const QString& ServerGroup = OptionKeys::ServerSecurity.group;
const QString& SecurityKey = OptionKeys::ServerSecurity.name;
const QString& PortKey = OptionKeys::ServerPort.name;
const QString& CaFileKey = OptionKeys::ServerCaFile.name;
const QString& TrustedGroup = OptionKeys::TrustedCertificates;

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
    security.mode = ParseSecurityMode(OptionText(*file, SecurityKey)).value_or(SecurityMode::None);
    security.port = ParsePortValue(OptionText(*file, PortKey));
    security.caFile = OptionText(*file, CaFileKey).trimmed();
    return security;
}

std::optional<OptionsFileLine> UnknownSavedSecurity() {
    const auto file = OpenOptionsFile();
    file->beginGroup(ServerGroup);
    if (!file->contains(SecurityKey) || ParseSecurityMode(OptionText(*file, SecurityKey))) {
        return std::nullopt;
    }
    OptionsFileLine line = FindOptionsFileLine(ServerGroup, SecurityKey);
    if (line.number == 0) {
        line.text = SecurityKey + QLatin1Char('=') + OptionText(*file, SecurityKey);
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

QString EnglishWords(const CaFileProblem& problem) {
    if (problem.systemReason.isEmpty()) {
        return QStringLiteral("the CA file %1 holds no certificate").arg(problem.path);
    }
    return QStringLiteral("cannot read the CA file %1: %2").arg(problem.path, problem.systemReason);
}

CaFileRead ReadCaFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {{}, CaFileProblem{path, file.errorString()}};
    }
    const QByteArray data = file.readAll();
    QList<QSslCertificate> certificates = QSslCertificate::fromData(data, QSsl::Pem);
    if (certificates.isEmpty()) {
        certificates = QSslCertificate::fromData(data, QSsl::Der);
    }
    if (certificates.isEmpty()) {
        return {{}, CaFileProblem{path, QString()}};
    }
    return {certificates, std::nullopt};
}

std::optional<CaFileProblem> ApplyServerSecurity(const ServerSecurity& security, Account& account) {
    account.security = security.mode;
    account.port = security.EffectivePort();
    account.caFile = security.caFile;
    account.caCertificates.clear();
    // Plain text checks no certificate: a CA file left over from a TLS mode is not read.
    if (security.caFile.isEmpty() || security.mode == SecurityMode::None) {
        return std::nullopt;
    }
    CaFileRead authorities = ReadCaFile(security.caFile);
    account.caCertificates = std::move(authorities.certificates);
    return authorities.problem;
}
