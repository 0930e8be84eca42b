#include "settings/ClientTlsSetting.h"

#include "platform/ProgramFiles.h"
#include "settings/OptionsFile.h"

#include <QSysInfo>

namespace {

const QString EnabledKey = QStringLiteral("ClientTls/Enabled");
const QString PortKey = QStringLiteral("ClientTls/Port");
const QString CertificateKey = QStringLiteral("ClientTls/Certificate");
const QString KeyKey = QStringLiteral("ClientTls/Key");

} // namespace

std::optional<bool> ParseSwitch(const QString& text) {
    const QString word = text.trimmed().toLower();
    for (const char* on : {"on", "true", "yes", "1"}) {
        if (word == QLatin1String(on)) {
            return true;
        }
    }
    for (const char* off : {"off", "false", "no", "0"}) {
        if (word == QLatin1String(off)) {
            return false;
        }
    }
    return std::nullopt;
}

ClientTlsSetting LoadClientTlsSetting() {
    const auto file = OpenOptionsFile();
    ClientTlsSetting setting;
    setting.enabled = ParseSwitch(file->value(EnabledKey).toString()).value_or(setting.enabled);
    bool ok = false;
    const uint port = file->value(PortKey).toString().trimmed().toUInt(&ok);
    if (ok && port <= 65535) {
        setting.implicitPort = static_cast<quint16>(port);
    }
    setting.certificateFile = file->value(CertificateKey).toString().trimmed();
    setting.keyFile = file->value(KeyKey).toString().trimmed();
    return setting;
}

Result<> SaveClientTlsSetting(const ClientTlsSetting& setting) {
    return EditOptionsFile([&setting](QSettings& file) {
        file.setValue(EnabledKey,
                      setting.enabled ? QStringLiteral("true") : QStringLiteral("false"));
        const auto setOrRemove = [&file](const QString& key, const QString& value) {
            if (value.isEmpty()) {
                file.remove(key);
            } else {
                file.setValue(key, value);
            }
        };
        setOrRemove(PortKey,
                    setting.implicitPort == 0 ? QString() : QString::number(setting.implicitPort));
        setOrRemove(CertificateKey, setting.certificateFile);
        setOrRemove(KeyKey, setting.keyFile);
    });
}

ClientIdentity LoadClientIdentity(const ClientTlsSetting& setting) {
    ClientIdentity loaded;
    if (setting.certificateFile.isEmpty() != setting.keyFile.isEmpty()) {
        loaded.problem = QStringLiteral("a certificate of your own needs its key file as well, "
                                        "and a key file its certificate");
        return loaded;
    }
    if (!setting.certificateFile.isEmpty()) {
        const Result<TlsIdentity> read = ReadTlsIdentity(setting.certificateFile, setting.keyFile);
        if (read) {
            loaded.identity = read.Value();
        } else {
            loaded.problem = QStringLiteral("%1: %2").arg(read.Where(), read.Error());
        }
        return loaded;
    }
    const OwnCertificate own =
        EnsureOwnCertificate(SettingsDirectory(), QSysInfo::machineHostName());
    loaded.identity = IdentityOf(own);
    loaded.renewal = own.renewal;
    loaded.problem = own.error;
    return loaded;
}
