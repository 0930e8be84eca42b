#pragma once

#include <QByteArray>
#include <QFile>

#include <dirent.h>

// What this process holds, read from /proc, for tests that look for leaks over many sessions.

// Open file descriptors, sockets included, not counting the one used to list them.
inline int OpenFileDescriptorCount() {
    DIR* listing = opendir("/proc/self/fd");
    if (!listing) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(listing);
    return count - 1;
}

// Resident memory of a process in KiB (VmRSS), or -1 when it cannot be read.
inline qint64 ResidentKiBOf(const QString& process) {
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// This process's own.
inline qint64 ResidentKiB() {
    return ResidentKiBOf(QStringLiteral("self"));
}
