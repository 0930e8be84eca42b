#pragma once

#include "settings/VirtualKey.h"

#include <QString>

class SettingsView;

// The mail server's host, kept between runs as the one line of "Quorlin.ini" in the program
// directory. The live value is the view's Text1; the relay reads it from there.

QString ServerSettingPath();
// Whether the file is there, so a caller that cannot ask the user can decide not to load.
bool ServerSettingExists();

// Start-up: fills Text1 with the first line of the file (a file of zero bytes gives an empty
// host). When the file is missing, asks for the server through the view's input box, sets Text1
// to the answer and writes it as the new file; Cancel empties Text1 and writes nothing, so the
// question comes again at the next start.
// A file that cannot be read or written is reported through the view; Text1 then keeps what it
// had, or the answer when only the writing failed. Returns false when something was reported.
bool LoadServerSetting(SettingsView& view);

// Writes Text1 as the whole file. Returns false when a failure was reported.
bool SaveServerSetting(SettingsView& view);

// The key handler of Text1: Enter saves. Returns whether the key was used; every other key is
// left to the text box.
bool ServerBoxKeyDown(SettingsView& view, VirtualKey key);
