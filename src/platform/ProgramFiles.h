#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

// The settings folder and whole-file line reading and writing in code page 932.
// Failures come back as values carrying the system's reason; the caller knows the path.

// The folder that holds the settings files: the program's own directory unless overridden
// (tests, --config-dir), or the user's configuration folder (~/.config/Quorlin) when the
// program's directory is not writable. An empty directory undoes the override.
QString SettingsDirectory();
void SetSettingsDirectory(const QString& directory);

// A plain file (not a directory) exists at path.
bool PlainFileExists(const QString& path);

// The whole file as bytes.
Result<QByteArray> ReadBytes(const QString& path);

// A line ends at CR LF, at a lone CR or at a lone LF (files edited by hand on this system end
// their lines so); the line end is not part of the line, and the last line needs no line end.
// A file of zero bytes has no lines.
Result<QStringList> ReadLines(const QString& path);
// Writes each line followed by CR LF as the whole content of the file, creating it if needed.
// The new content is written beside the file and renamed over it once complete, so a failed
// write (a full disk, a folder that takes no new file) leaves the old content whole.
Result<> WriteLines(const QString& path, const QStringList& lines);
// The same for content that is already bytes.
Result<> WriteBytes(const QString& path, const QByteArray& content);
