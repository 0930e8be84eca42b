#include "settings/UnusableSetting.h"

#include <QDir>
#include <QStringList>

QString EnglishReason(const UnusableSetting& setting) {
    switch (setting.why) {
    case UnusableSetting::Why::FileFormat:
        return QStringLiteral("neither a [Section] nor a Key=Value line");
    case UnusableSetting::Why::NoMode:
        return QStringLiteral("names no way to reach the mail server (none, tls or starttls)");
    case UnusableSetting::Why::NotASwitch:
        return QStringLiteral("not a switch (true or false, yes or no, on or off, 1 or 0)");
    case UnusableSetting::Why::NotAPort:
        return QStringLiteral("not a port (1 to 65535)");
    case UnusableSetting::Why::NotANumber:
        return QStringLiteral("not a whole number from 1 to %1").arg(setting.most);
    case UnusableSetting::Why::NotAnAddress:
        return QStringLiteral("not an IP address");
    case UnusableSetting::Why::NoFingerprint:
        return EnglishWords(setting.fingerprint);
    case UnusableSetting::Why::NoLoginName:
        return QStringLiteral("an account without Login, left out");
    case UnusableSetting::Why::NoHost:
        return QStringLiteral("an account without Host, left out");
    case UnusableSetting::Why::LoginTaken:
        return QStringLiteral("the login name of an earlier account, left out");
    case UnusableSetting::Why::AccountNoMode:
        return QStringLiteral("names no way to reach the mail server (none, tls or starttls); "
                              "the account is left out");
    case UnusableSetting::Why::UnreadableCaFile:
        return setting.systemReason.isEmpty()
                   ? QStringLiteral("holds no certificate; the system's authorities alone are "
                                    "trusted for the account")
                   : QStringLiteral("cannot be read (%1); the system's authorities alone are "
                                    "trusted for the account")
                         .arg(setting.systemReason);
    }
    return {};
}

QString UnusableSettingsReport(const QString& path, const QList<UnusableSetting>& settings) {
    QStringList lines{
        QStringLiteral("values in %1 that cannot be used:").arg(QDir::toNativeSeparators(path))};
    for (const UnusableSetting& setting : settings) {
        const QString where =
            setting.line > 0 ? QStringLiteral("line %1: ").arg(setting.line) : QString();
        lines.append(
            QStringLiteral("  %1%2: %3").arg(where, setting.entry, EnglishReason(setting)));
    }
    return lines.join(QLatin1Char('\n'));
}
