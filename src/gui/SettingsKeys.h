#pragma once

#include "gui/VirtualKey.h"

struct Settings;
class SettingsUser;

// What the server box and the blocked list do with their keys, on the settings and their files.
// Each returns false when a file failure was reported to the user.

// Asks for a character set and appends it to the blocked list without the spaces around it; a
// blank answer or Cancel changes nothing, the file included.
bool AddBlockedEntry(Settings& settings, SettingsUser& user);
// Removes entry `selected` (-1: none) and rewrites the file either way.
bool RemoveBlockedEntry(Settings& settings, SettingsUser& user, int selected);

// The key handler of the blocked list: Insert adds, Delete removes the selected entry, whatever
// modifier keys are held. Returns whether the key was used; every other key is left to the list.
bool BlockedListKeyDown(Settings& settings, SettingsUser& user, int selected, VirtualKey key);

// The key handler of the server box: Enter saves the host. Returns whether the key was used.
bool ServerBoxKeyDown(const Settings& settings, SettingsUser& user, VirtualKey key);
