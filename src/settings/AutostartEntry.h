#pragma once

#include "platform/ProgramFiles.h"

#include <QByteArray>
#include <QString>

// Start at login: a freedesktop Desktop Entry in the user's autostart folder, which desktop
// sessions run when the user logs in. It names the settings folder in use, so that the
// Quorlin started at login reads the same settings as the one that wrote it.

// The command-line option (without its dashes) the entry adds: a start at login goes to the
// tray without showing the window.
inline constexpr char AutostartOptionName[] = "autostart";

// $XDG_CONFIG_HOME/autostart/quorlin.desktop, with ~/.config in place of an XDG_CONFIG_HOME
// that is unset, empty or not absolute (the XDG Base Directory rule).
QString AutostartEntryPath();

// The entry's bytes (UTF-8): Exec starts `program` with `--config-dir configDir` and the
// autostart option, each argument quoted as the Desktop Entry Exec rules ask.
QByteArray AutostartEntry(const QString& program, const QString& configDir);

// Written whole or not at all; the autostart folder is made when missing.
Result<> WriteAutostartEntry(const QString& path, const QString& program, const QString& configDir);
// A missing entry counts as removed.
Result<> RemoveAutostartEntry(const QString& path);
bool AutostartEntryExists(const QString& path);
