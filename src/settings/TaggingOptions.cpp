#include "settings/TaggingOptions.h"

#include "settings/BlockedList.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSetting.h"

TaggingOptions LoadTaggingOptions(bool newFolder) {
    const auto file = OpenOptionsFile();
    const auto read = [&file](const OptionKey& key, bool fallback) {
        return ParseSwitch(OptionText(*file, key.Path())).value_or(fallback);
    };
    return {read(OptionKeys::EncodedWords, newFolder), read(OptionKeys::CharsetHeader, false)};
}

Result<> SaveTaggingOption(const OptionKey& key, bool on) {
    return EditOptionsFile([&key, on](QSettings& file) {
        file.setValue(key.Path(), on ? QStringLiteral("true") : QStringLiteral("false"));
    });
}

bool SettingsFolderIsNew() {
    return !PlainFileExists(ServerSettingPath()) && !PlainFileExists(BlockedListPath()) &&
           !PlainFileExists(OptionsFilePath());
}

Result<> KeepNewFolderTagging() {
    return EditOptionsFile([](QSettings& file) {
        if (!file.contains(OptionKeys::EncodedWords.Path())) {
            file.setValue(OptionKeys::EncodedWords.Path(), QStringLiteral("true"));
        }
    });
}
