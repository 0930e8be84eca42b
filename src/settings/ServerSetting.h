#pragma once

#include "platform/Result.h"

#include <QString>

struct Settings;
class SettingsUser;

// The mail server's host (the default account's), kept between runs as the one line of
// "Quorlin.ini" in the settings folder.

QString ServerSettingPath();
// Whether the file is there, so a caller that cannot ask the user can decide not to load.
bool ServerSettingExists();
// The host the file holds (a file of zero bytes gives an empty host), for a caller that tells
// of a failure itself.
Result<QString> ReadServerSetting();

// Start-up: sets the host to the first line of the file (a file of zero bytes gives an empty
// host). When the file is missing, asks for the server, sets the host to the answer and writes
// it as the new file; Cancel empties the host and writes nothing, so the question comes again
// at the next start.
// A file that cannot be read or written is reported to the user; the host then keeps what it
// had, or the answer when only the writing failed. Returns false when something was reported.
bool LoadServerSetting(Settings& settings, SettingsUser& user);

// Writes the host as the whole file; a blank host is refused with a word to the user and
// writes nothing. Returns false when a failure or the refusal was reported.
bool SaveServerSetting(const Settings& settings, SettingsUser& user);
