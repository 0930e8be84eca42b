#pragma once

#include <QString>

// What the user is told when a settings file fails: what went wrong, the file and the system's
// reason, so the user can find and fix it.
QString ReadFailureMessage(const QString& path, const QString& reason);
QString WriteFailureMessage(const QString& path, const QString& reason);

// Values in a settings file that cannot be used (and are left out): the file, then one line of
// problems each, made by UnusableSettingText from the line's number (0: not found), the entry
// and the reason.
QString UnusableSettingText(int lineNumber, const QString& entry, const QString& reason);
QString UnusableSettingsMessage(const QString& path, const QStringList& problems);
