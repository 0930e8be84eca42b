#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

struct Settings;
class SettingsUser;

// The character sets whose mail gets tagged, kept as one entry per line of
// "Quorlin_BatList.ini" in the settings folder; every change rewrites the whole file.

QString BlockedListPath();
// Every line of the file, an empty line included; none when there is no file. For a caller that
// tells of a failure itself.
Result<QStringList> ReadBlockedList();

// Start-up: appends every line of the file to the blocked list, an empty line included. A
// missing file leaves the list as it is and creates nothing. Returns false when a read failure
// was reported.
bool LoadBlockedList(Settings& settings, SettingsUser& user);

// Writes all entries as the whole file. Returns false when a failure was reported.
bool SaveBlockedList(const Settings& settings, SettingsUser& user);
