#include "platform/ProgramFiles.h"

#include "platform/Cp932.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QString& DirectoryOverride() {
    static QString directory;
    return directory;
}

} // namespace

QString ProgramDirectory() {
    const QString& directory = DirectoryOverride();
    if (!directory.isEmpty()) {
        return directory;
    }
    // Settings live beside the program. Installed system-wide (say in /usr/local/bin) that folder
    // is not the user's to write, so the user's own configuration folder takes its place there.
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (QFileInfo(programFolder).isWritable()) {
        return programFolder;
    }
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(userFolder);
    return userFolder;
}

void SetProgramDirectory(const QString& directory) {
    DirectoryOverride() = directory;
}

bool PlainFileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

LinesResult ReadLines(const QString& path) {
    LinesResult result;
    result.path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }

    // CR and LF never occur inside a two-byte character, so the bytes can be split before
    // they are decoded.
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < content.size()) {
        const char c = content[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        result.lines.append(Cp932ToText(QByteArrayView(content).sliced(start, i - start)));
        i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < content.size()) {
        result.lines.append(Cp932ToText(QByteArrayView(content).sliced(start)));
    }
    return result;
}

FileResult WriteLines(const QString& path, const QStringList& lines) {
    FileResult result;
    result.path = path;
    QByteArray content;
    for (const QString& line : lines) {
        content += TextToCp932(line);
        content += "\r\n";
    }

    // Written aside and renamed over the old file, so a failed write leaves the old content;
    // a folder that allows changing the file but not adding one is written in place.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        result.ok = false;
        result.error = file.errorString();
    }
    return result;
}
