#include "app/SettingsReload.h"

#include "app/StartupSettings.h"
#include "settings/BlockedList.h"
#include "settings/OptionsCheck.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSetting.h"

#include <QFile>

ReloadedSettings ReadSettingsAgain(const AppOptions& options, const Settings& inForce,
                                   HostOnReload host) {
    ReloadedSettings reloaded;
    ReloadProblems& problems = reloaded.problems;
    QFile optionsFile(OptionsFilePath());
    if (optionsFile.exists() && !optionsFile.open(QIODevice::ReadOnly)) {
        problems.unreadable.append({optionsFile.fileName(), optionsFile.errorString()});
    }
    problems.unusable = UnusableOptions();

    StartupSettings startup = LoadStartupSettings(options);
    problems.caFile = startup.caFileProblem;
    Settings& settings = startup.settings;
    const ClientTlsSetting& wanted = settings.clientTls;
    const ClientTlsSetting& held = inForce.clientTls;
    if (wanted.enabled && held.enabled && !inForce.clientIdentity.IsNull() &&
        wanted.certificateFile == held.certificateFile && wanted.keyFile == held.keyFile) {
        settings.clientIdentity = inForce.clientIdentity;
    } else {
        LoadClientCertificate(startup);
        problems.clientCertificate = startup.clientTlsProblem;
        reloaded.clientCertificateRenewal = startup.clientCertificateRenewal;
    }
    settings.tagUnlabelled = inForce.tagUnlabelled;

    QString& server = settings.DefaultAccount().host;
    server = inForce.DefaultAccount().host;
    if (!options.server && host == HostOnReload::FromFile && ServerSettingExists()) {
        const Result<QString> read = ReadServerSetting();
        if (read) {
            server = read.Value();
        } else {
            problems.unreadable.append({read.Where(), read.Error()});
        }
    }
    const Result<QStringList> blocked = ReadBlockedList();
    if (blocked) {
        settings.blockedCharsets = blocked.Value();
    } else {
        problems.unreadable.append({blocked.Where(), blocked.Error()});
    }
    reloaded.settings = std::move(settings);
    return reloaded;
}
