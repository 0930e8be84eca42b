#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// The options a person may want beside the server host (ports, security, limits), kept in
// "Quorlin_Options.ini" beside Quorlin.ini: an INI file with [Sections] and Key=Value lines that
// can be read and edited by hand. Quorlin.ini keeps its one line, the host, and its meaning.
// A missing file or key means the built-in default; the command line overrides for one run.
QString OptionsFilePath();

// The options file for reading or writing. QSettings writes it aside and renames it into place,
// so an interrupted write leaves the old file.
std::unique_ptr<QSettings> OpenOptionsFile();
