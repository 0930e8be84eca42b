#pragma once

#include "platform/ProgramFiles.h"

#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

// The options a person may want beside the server host (ports, security, limits), kept in
// "Quorlin_Options.ini" beside Quorlin.ini: an INI file with [Sections] and Key=Value lines that
// can be read and edited by hand. Quorlin.ini keeps its one line, the host, and its meaning.
// A missing file or key means the built-in default; the command line overrides for one run.
QString OptionsFilePath();

// The options file for reading.
std::unique_ptr<QSettings> OpenOptionsFile();

// Changes the options file: `edit` sets and removes keys, and the whole file is then written
// aside and renamed into place, or not at all, with the system's reason on failure.
Result<> EditOptionsFile(const std::function<void(QSettings&)>& edit);

// A key's line in the options file as an editor shows it, for a message that asks the user to
// mend it: its number from 1 and its text. Number 0 when no line holds the key as written.
struct OptionsFileLine {
    int number = 0;
    QString text;
};
OptionsFileLine FindOptionsFileLine(const QString& group, const QString& key);

// The lines that are neither blank, a comment (; or #), a [Section] nor Key=Value: where
// QSettings reports a format error.
QList<OptionsFileLine> MalformedOptionsFileLines();
