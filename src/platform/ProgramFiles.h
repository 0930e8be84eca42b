#pragma once

#include <QString>
#include <QStringList>

// The program directory and whole-file line reading and writing in code page 932.
// Failures come back as values carrying the system's reason.

// The folder that holds the settings files: the program's own directory unless overridden
// (tests, --config-dir).
QString ProgramDirectory();
void SetProgramDirectory(const QString& directory);

// A plain file (not a directory) exists at path.
bool PlainFileExists(const QString& path);

struct FileResult {
    bool ok = true;
    QString error; // the system's reason, for the user
};

struct LinesResult {
    bool ok = true;
    QString error;
    QStringList lines;
};

// A line ends at CR LF or at a lone CR; the last line needs no line end.
LinesResult ReadLines(const QString& path);
// Creates or empties the file and writes each line followed by CR LF.
FileResult WriteLines(const QString& path, const QStringList& lines);
