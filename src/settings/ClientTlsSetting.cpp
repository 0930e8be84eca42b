#include "settings/ClientTlsSetting.h"

#include "platform/ProgramFiles.h"
#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"

#include <QSysInfo>

ClientTlsSetting LoadClientTlsSetting() {
    const auto file = OpenOptionsFile();
    ClientTlsSetting setting;
    setting.enabled = ParseSwitch(OptionText(*file, OptionKeys::ClientTlsEnabled.Path()))
                          .value_or(setting.enabled);
    setting.implicitPort =
        ParsePortOrNone(OptionText(*file, OptionKeys::ClientTlsPort.Path())).value_or(0);
    setting.certificateFile = OptionText(*file, OptionKeys::ClientTlsCertificate.Path()).trimmed();
    setting.keyFile = OptionText(*file, OptionKeys::ClientTlsKey.Path()).trimmed();
    return setting;
}

Result<> SaveClientTlsChanges(const ClientTlsSetting& was, const ClientTlsSetting& now) {
    return EditOptionsFile([&was, &now](QSettings& file) {
        if (now.enabled != was.enabled) {
            file.setValue(OptionKeys::ClientTlsEnabled.Path(),
                          now.enabled ? QStringLiteral("true") : QStringLiteral("false"));
        }
        const auto setOrRemove = [&file](const OptionKey& key, const QString& before,
                                         const QString& value) {
            if (value == before) {
                return;
            }
            if (value.isEmpty()) {
                file.remove(key.Path());
            } else {
                file.setValue(key.Path(), value);
            }
        };
        const auto portText = [](quint16 port) {
            return port == 0 ? QString() : QString::number(port);
        };
        setOrRemove(OptionKeys::ClientTlsPort, portText(was.implicitPort),
                    portText(now.implicitPort));
        setOrRemove(OptionKeys::ClientTlsCertificate, was.certificateFile, now.certificateFile);
        setOrRemove(OptionKeys::ClientTlsKey, was.keyFile, now.keyFile);
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
