#include "platform/LogFile.h"

#include "platform/LogTimestamp.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace {

// Past this much waiting, lines go out at once rather than at the next turn of the event loop.
constexpr qsizetype FlushAt = 256 * 1024;

qint64 CountLines(QByteArrayView bytes) {
    return std::count(bytes.begin(), bytes.end(), '\n');
}

// The path no longer names the open file: someone else moved or removed it (the system's own
// log rotation), and writing on would go where nobody looks.
bool PathMoved(const QFile& file) {
    struct stat named {};
    struct stat open {};
    return ::stat(QFile::encodeName(file.fileName()).constData(), &named) != 0 ||
           ::fstat(file.handle(), &open) != 0 || named.st_dev != open.st_dev ||
           named.st_ino != open.st_ino;
}

// Replaces whatever is at `to`, unlike QFile::rename.
QString Move(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0 &&
        errno != ENOENT) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return {};
}

} // namespace

LogFile::LogFile(const QString& path, LogRotation limits) : file(path), rotation(limits) {}

LogFile::~LogFile() {
    Flush();
}

void LogFile::Append(QByteArrayView lines) {
    if (lines.isEmpty()) {
        return;
    }
    pending.append(lines);
    if (pending.size() >= FlushAt) {
        Flush();
    } else if (!flushQueued) {
        flushQueued = true;
        QTimer::singleShot(0, this, [this] {
            flushQueued = false;
            Flush();
        });
    }
}

void LogFile::Flush() {
    if (pending.isEmpty()) {
        return;
    }
    const QByteArray lines = std::exchange(pending, {});
    QString trouble = EnsureOpen();
    if (trouble.isEmpty() && failing) {
        trouble = TellLost();
    }
    QByteArrayView rest = lines;
    while (trouble.isEmpty() && !rest.isEmpty()) {
        // Whole lines, as many as the file takes before its limit; a line longer than the
        // limit goes alone into a file of its own.
        const qint64 room = rotation.maxBytes - size;
        qsizetype take = rest.size();
        if (take > room) {
            take = room > 0 ? rest.first(room).lastIndexOf('\n') + 1 : 0;
            if (take == 0 && size == 0) {
                const qsizetype lineEnd = rest.indexOf('\n');
                take = lineEnd < 0 ? rest.size() : lineEnd + 1;
            }
        }
        if (take == 0) {
            trouble = Rotate();
        } else if (trouble = Write(rest.first(take)); trouble.isEmpty()) {
            rest = rest.sliced(take);
        }
    }
    if (!trouble.isEmpty()) {
        Drop(rest, trouble);
    }
}

QString LogFile::EnsureOpen() {
    // After a failure the path is tried afresh: the trouble may lie with the old descriptor.
    if (file.isOpen() && (failing || PathMoved(file))) {
        file.close();
    }
    if (!file.isOpen()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            return file.errorString();
        }
        size = file.size();
    }
    return {};
}

QString LogFile::Write(QByteArrayView bytes) {
    if (file.write(bytes.data(), bytes.size()) != bytes.size()) {
        return file.errorString();
    }
    size += bytes.size();
    return {};
}

QString LogFile::Rotate() {
    const QString path = file.fileName();
    if (!QFileInfo(path).isFile()) {
        // A device or a pipe (/dev/stdout, a FIFO someone reads) is not moved aside, and not
        // opened again either: a FIFO would hold the event loop until its reader came back.
        size = 0;
        return {};
    }
    file.close();
    const auto numbered = [&path](int n) { return path + QLatin1Char('.') + QString::number(n); };
    if (rotation.keptFiles <= 0) {
        QFile::remove(path);
        return EnsureOpen();
    }
    QFile::remove(numbered(rotation.keptFiles));
    for (int n = rotation.keptFiles - 1; n >= 1; --n) {
        Move(numbered(n), numbered(n + 1));
    }
    const QString trouble = Move(path, numbered(1));
    return trouble.isEmpty() ? EnsureOpen() : trouble;
}

QString LogFile::TellLost() {
    const QString trouble =
        Write(LogTimestamp(QDateTime::currentDateTime()) + " quorlin: " + QByteArray::number(lost) +
              " lines were lost: the log file could not be written\n");
    if (trouble.isEmpty()) {
        failing = false;
        lost = 0;
    }
    return trouble;
}

void LogFile::Drop(QByteArrayView lines, const QString& reason) {
    lost += CountLines(lines);
    if (!failing) {
        failing = true;
        Q_EMIT Failed(file.fileName(), reason);
    }
}
