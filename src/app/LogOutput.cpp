#include "app/LogOutput.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 CountLines(QByteArrayView bytes) {
    return std::count(bytes.begin(), bytes.end(), '\n');
}

} // namespace

LogOutput::LogOutput(int fd, qsizetype maximum) : descriptor(fd), bound(maximum) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        broken = true; // closed by whoever started us: nothing can be shown
        return;
    }
    // Files, and devices that are no terminal (/dev/null), take every write at once.
    alwaysWritable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ||
                     (S_ISCHR(status.st_mode) && ::isatty(fd) != 1);
    if (::isatty(fd) == 1) {
        // A terminal may take only part of a write and hold the rest, so it gets a descriptor
        // of our own that may be made non-blocking without touching the shell's.
        if (const char* name = ::ttyname(fd)) {
            ownDescriptor = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }
}

LogOutput::~LogOutput() {
    // A reader that has stopped for good would keep the program from ending.
    Drain(2000);
    if (ownDescriptor >= 0) {
        ::close(ownDescriptor);
    }
}

void LogOutput::Append(QByteArrayView lines) {
    if (broken || lines.isEmpty()) {
        return;
    }
    if (Pending() > 0 || dropped > 0) {
        Flush();
    }
    if (dropped > 0) {
        // Still behind: nothing new until the reader has caught up, so that the output has
        // one gap with its count rather than many small ones.
        dropped += CountLines(lines);
        return;
    }
    if (head > 0 && head >= queue.size() / 2) {
        queue.remove(0, head);
        head = 0;
    }
    qsizetype taken = lines.size();
    const qsizetype room = bound - Pending();
    if (taken > room) {
        // The whole lines that fit; one line at least when nothing waits, however long it is.
        taken = room > 0 ? lines.first(room).lastIndexOf('\n') + 1 : 0;
        if (taken == 0 && Pending() == 0) {
            taken = lines.indexOf('\n') + 1;
        }
        dropped = CountLines(lines.sliced(taken));
    }
    queue.append(lines.first(taken));
    Flush();
}

bool LogOutput::Drain(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        Flush();
        if (broken || failed || (Pending() == 0 && dropped == 0)) {
            return !broken && !failed;
        }
        pollfd ready{ownDescriptor >= 0 ? ownDescriptor : descriptor, POLLOUT, 0};
        const int remaining = static_cast<int>(deadline.remainingTime());
        if (remaining <= 0 || ::poll(&ready, 1, remaining) == 0) {
            return false;
        }
    }
}

void LogOutput::Flush() {
    for (;;) {
        if (dropped > 0 && Pending() <= bound / 2) {
            TellDropped();
        }
        if (Pending() == 0) {
            break;
        }
        if (!WriteChunk()) {
            return;
        }
    }
    queue.clear();
    head = 0;
    if (writable) {
        writable->setEnabled(false);
    }
}

// Writes what the descriptor takes without waiting. False when it takes nothing more now (the
// notifier then calls again) or has failed.
bool LogOutput::WriteChunk() {
    const int fd = ownDescriptor >= 0 ? ownDescriptor : descriptor;
    qsizetype size = Pending();
    if (!alwaysWritable && ownDescriptor < 0) {
        // A pipe or socket that polls writable takes PIPE_BUF bytes at once without blocking.
        pollfd ready{fd, POLLOUT, 0};
        int polled;
        do {
            polled = ::poll(&ready, 1, 0);
        } while (polled < 0 && errno == EINTR);
        if (polled == 0) {
            WaitUntilWritable();
            return false;
        }
        if (size > PIPE_BUF) {
            // Whole lines where they fit: then no other writer's output lands inside a line.
            const qsizetype lineEnd =
                QByteArrayView(queue).sliced(head, PIPE_BUF).lastIndexOf('\n');
            size = lineEnd >= 0 ? lineEnd + 1 : PIPE_BUF;
        }
    }
    const ssize_t written = ::write(fd, queue.constData() + head, static_cast<size_t>(size));
    if (written >= 0) {
        head += written;
        failed = false;
        return true;
    }
    switch (errno) {
    case EINTR:
        return true;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        WaitUntilWritable();
        return false;
    case EPIPE:
    case EBADF:
        // The reader has gone for good (where the broken pipe did not end the program).
        broken = true;
        queue.clear();
        head = 0;
        return false;
    default:
        // A full disk or a failing device: what waits is lost, and said so once writing works
        // (a lost count of dropped lines counts as one line).
        dropped += CountLines(QByteArrayView(queue).sliced(head));
        queue.clear();
        head = 0;
        failed = true;
        return false;
    }
}

void LogOutput::WaitUntilWritable() {
    if (!writable) {
        const int fd = ownDescriptor >= 0 ? ownDescriptor : descriptor;
        writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        QObject::connect(writable.get(), &QSocketNotifier::activated, this, [this] { Flush(); });
    }
    writable->setEnabled(true);
}

void LogOutput::TellDropped() {
    queue.append(QByteArrayLiteral("quorlin: dropped ") + QByteArray::number(dropped) +
                 QByteArrayLiteral(" lines: the output was not read in time\n"));
    dropped = 0;
}
