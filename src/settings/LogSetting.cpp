#include "settings/LogSetting.h"

#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"

#include <QDir>

LogSetting LoadLogSetting() {
    const auto file = OpenOptionsFile();
    LogSetting setting;
    // A relative path is taken from the settings folder, wherever Quorlin was started.
    const QString path = OptionText(*file, OptionKeys::LogFile.Path()).trimmed();
    if (!path.isEmpty()) {
        setting.file = QDir(SettingsDirectory()).absoluteFilePath(path);
    }
    setting.rotation.maxBytes =
        ParseCountValue(OptionText(*file, OptionKeys::LogMaxBytes.Path()), MaxLogFileBytes)
            .value_or(setting.rotation.maxBytes);
    setting.rotation.keptFiles =
        ParseCountValue(OptionText(*file, OptionKeys::LogKeptFiles.Path()), MaxKeptLogFiles)
            .value_or(setting.rotation.keptFiles);
    return setting;
}

Result<> SaveLogFile(const QString& path) {
    return EditOptionsFile([&path](QSettings& file) {
        if (path.isEmpty()) {
            file.remove(OptionKeys::LogFile.Path());
        } else {
            file.setValue(OptionKeys::LogFile.Path(), path);
        }
    });
}
