#pragma once

#include "platform/Result.h"
#include "settings/OptionKeys.h"

#include <optional>

// How far the tagging looks, kept in the options file under [Tagging]:
//   EncodedWords=true    the character sets of encoded words in Subject and From count, and any
//                        character-set line of the start of the message
//   CharsetHeader=true   tagged mail also gets "X-Quorlin-Charset:" behind its Subject
// Both are off in a settings folder that had settings before them; a folder that holds no
// settings file yet starts with EncodedWords on.
struct TaggingOptions {
    bool encodedWords = false;
    bool charsetHeader = false;
};

// A missing key, or a value that is no switch, gives the folder's default.
TaggingOptions LoadTaggingOptions(bool newFolder);
Result<> SaveTaggingOption(const OptionKey& key, bool on);

// None of the settings files is there yet.
bool SettingsFolderIsNew();
// Writes the new folder's EncodedWords=true, so that the folder keeps it once it holds settings.
Result<> KeepNewFolderTagging();
