#include "settings/OptionsCheck.h"

#include "settings/AccountsFile.h"
#include "settings/ClientLimits.h"
#include "settings/LogSetting.h"
#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSecurity.h"
#include "settings/SettingsUser.h"

#include <algorithm>

namespace {

using Why = UnusableSetting::Why;

struct CheckedKey {
    const OptionKey& key;
    Why why;
    int most = 0;
    bool noneAllowed = false; // a port that may be 0 or empty: none
};

bool Usable(const CheckedKey& checked, const QString& text) {
    switch (checked.why) {
    case Why::NoMode:
        return ParseSecurityMode(text).has_value();
    case Why::NotASwitch:
        return ParseSwitch(text).has_value();
    case Why::NotAPort:
        return (checked.noneAllowed ? ParsePortOrNone(text) : ParsePortValue(text)).has_value();
    case Why::NotANumber:
        return ParseCountValue(text, checked.most).has_value();
    case Why::NotAnAddress:
        return ParseAddressValue(text).has_value();
    case Why::FileFormat:
    case Why::NoFingerprint:
    case Why::NoLoginName:
    case Why::NoHost:
    case Why::LoginTaken:
    case Why::AccountNoMode:
    case Why::UnreadableCaFile:
        break;
    }
    return true;
}

UnusableSetting At(const QString& group, const QString& name, const QString& value, Why why) {
    const OptionsFileLine line = FindOptionsFileLine(group, name);
    UnusableSetting setting;
    setting.why = why;
    setting.line = line.number;
    setting.entry = line.number > 0 ? line.text : name + QLatin1Char('=') + value;
    return setting;
}

} // namespace

QList<UnusableSetting> UnusableOptions() {
    const CheckedKey checkedKeys[] = {
        {OptionKeys::ServerSecurity, Why::NoMode},
        {OptionKeys::ServerPort, Why::NotAPort},
        {OptionKeys::ListenPort, Why::NotAPort},
        {OptionKeys::ListenAddress, Why::NotAnAddress},
        {OptionKeys::ClientLimit, Why::NotANumber, MaxClientLimit},
        {OptionKeys::IdleTimeout, Why::NotANumber, MaxIdleTimeoutSeconds},
        {OptionKeys::ClientTlsEnabled, Why::NotASwitch},
        {OptionKeys::ClientTlsPort, Why::NotAPort, 0, true},
        {OptionKeys::EncodedWords, Why::NotASwitch},
        {OptionKeys::CharsetHeader, Why::NotASwitch},
        {OptionKeys::LogMaxBytes, Why::NotANumber, MaxLogFileBytes},
        {OptionKeys::LogKeptFiles, Why::NotANumber, MaxKeptLogFiles},
    };
    QList<UnusableSetting> unusable;
    for (const OptionsFileLine& line : MalformedOptionsFileLines()) {
        UnusableSetting setting;
        setting.line = line.number;
        setting.entry = line.text;
        unusable.append(setting);
    }
    const auto file = OpenOptionsFile();
    for (const CheckedKey& checked : checkedKeys) {
        const QString path = checked.key.Path();
        const QString text = OptionText(*file, path);
        if (file->contains(path) && !Usable(checked, text)) {
            UnusableSetting setting = At(checked.key.group, checked.key.name, text, checked.why);
            setting.most = checked.most;
            unusable.append(setting);
        }
    }
    file->beginGroup(OptionKeys::TrustedCertificates);
    for (const QString& host : file->childKeys()) {
        for (const QString& text : file->value(host).toStringList()) {
            FingerprintProblem problem;
            if (!ParseFingerprint(text, &problem)) {
                UnusableSetting setting =
                    At(OptionKeys::TrustedCertificates, host, text, Why::NoFingerprint);
                setting.entry = host + QLatin1Char('=') + text;
                setting.fingerprint = problem;
                unusable.append(setting);
            }
        }
    }
    unusable += LoadAccounts().problems;
    std::stable_sort(
        unusable.begin(), unusable.end(),
        [](const UnusableSetting& a, const UnusableSetting& b) { return a.line < b.line; });
    return unusable;
}

void ReportUnusableOptions(SettingsUser& user) {
    QList<UnusableSetting> unusable = UnusableOptions();
    unusable.removeIf([](const UnusableSetting& setting) { return setting.why == Why::NoMode; });
    if (!unusable.isEmpty()) {
        user.ReportUnusableSettings(OptionsFilePath(), unusable);
    }
}
