#pragma once

#include "settings/VirtualKey.h"

#include <QString>

class SettingsView;

// The character sets whose mail gets tagged, kept as one entry per line of
// "Quorlin_BatList.ini" in the settings folder. The live list is the view's List3; every
// change rewrites the whole file.

QString BlockedListPath();

// Start-up: appends every line of the file to List3, an empty line included. A missing file
// leaves the list empty and creates nothing. Returns false when a read failure was reported.
bool LoadBlockedList(SettingsView& view);

// Asks for a name and appends it; an empty answer or Cancel changes nothing, the file included.
// Returns false when a write failure was reported.
bool AddBlockedEntry(SettingsView& view);

// Removes the first selected entry, if any, and rewrites the file either way. Returns false
// when a write failure was reported.
bool RemoveBlockedEntry(SettingsView& view);

// Writes all entries of List3 as the whole file. Returns false when a failure was reported.
bool SaveBlockedList(SettingsView& view);

// The key handler of List3: Insert adds, Delete removes, whatever modifier keys are held.
// Returns whether the key was used; every other key is left to the list box.
bool BlockedListKeyDown(SettingsView& view, VirtualKey key);
