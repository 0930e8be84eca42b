#include "platform/ProgramFiles.h"

#include "platform/Cp932.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

QString& DirectoryOverride() {
    static QString directory;
    return directory;
}

// The system's reason for a failed file operation. Qt words most failures itself, but some
// (a short write, a failed commit after a write error) leave only its "Unknown error": the
// C library's text for the errno saved right after the failing call says what happened.
Result<> Failed(const QString& path, const QFileDevice& file, int savedErrno) {
    QString reason = file.error() == QFileDevice::NoError ? QString() : file.errorString();
    if ((reason.isEmpty() || reason == QFile().errorString()) && savedErrno != 0) {
        reason = QString::fromLocal8Bit(std::strerror(savedErrno));
    }
    if (reason.isEmpty()) {
        reason = file.errorString();
    }
    return Result<>::Failure(reason, path);
}

} // namespace

QString SettingsDirectory() {
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

void SetSettingsDirectory(const QString& directory) {
    DirectoryOverride() = directory;
}

bool PlainFileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

Result<QByteArray> ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Result<QByteArray>::Failure(file.errorString(), path);
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Result<QByteArray>::Failure(file.errorString(), path);
    }
    return content;
}

Result<QStringList> ReadLines(const QString& path) {
    const Result<QByteArray> read = ReadBytes(path);
    if (!read) {
        return Result<QStringList>::Failure(read.Error(), path);
    }
    const QByteArray& content = read.Value();

    // CR and LF never occur inside a two-byte character, so the bytes can be split before
    // they are decoded.
    QStringList lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < content.size()) {
        const char c = content[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.append(Cp932ToText(QByteArrayView(content).sliced(start, i - start)));
        i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < content.size()) {
        lines.append(Cp932ToText(QByteArrayView(content).sliced(start)));
    }
    return lines;
}

Result<> WriteLines(const QString& path, const QStringList& lines) {
    QByteArray content;
    for (const QString& line : lines) {
        content += TextToCp932(line);
        content += "\r\n";
    }
    return WriteBytes(path, content);
}

Result<> WriteBytes(const QString& path, const QByteArray& content) {
    // Always written aside and renamed over the old file, never written in place: a write that
    // stops halfway (a full disk, a size limit) must leave the old content whole. A folder that
    // allows changing the file but not adding one therefore refuses the save, with its reason.
    // Unbuffered, so that every failing write is seen here: QSaveFile would rename a file whose
    // buffered tail failed to reach the disk.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return Failed(path, file, errno);
    }
    for (qsizetype done = 0; done < content.size();) {
        errno = 0;
        const qint64 written = file.write(content.constData() + done, content.size() - done);
        if (written <= 0) {
            Result<> failed = Failed(path, file, errno);
            file.cancelWriting();
            return failed;
        }
        done += written;
    }
    // Some file systems (network ones, delayed allocation) report a full disk only here, and
    // QSaveFile does not look at what syncing says.
    if (::fsync(file.handle()) != 0) {
        Result<> failed = Failed(path, file, errno);
        file.cancelWriting();
        return failed;
    }
    if (!file.commit()) {
        return Failed(path, file, errno);
    }
    return {};
}
