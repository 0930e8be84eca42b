#pragma once

#include "settings/UnusableSetting.h"

#include <QList>
#include <QString>
#include <optional>

// What loading and saving the settings needs from whoever sits at the screen: a question (the
// first-run one) and being told that a file could not be read or written, or was not written
// because what was to go in it was refused, or holds values that cannot be used. The window, the
// headless runner and the tests implement it.
class SettingsUser {
public:
    virtual ~SettingsUser() = default;

    // A modal input box; nullopt when the user cancelled.
    virtual std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                            const QString& defaultAnswer) = 0;

    virtual void ReportFileError(const QString& message) = 0;
    // Values of the settings file at `path` that cannot be used and are left out.
    virtual void ReportUnusableSettings(const QString& path,
                                        const QList<UnusableSetting>& settings) = 0;
};
