#include "platform/LogOutput.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

qint64 CountLines(QByteArrayView bytes) {
    return std::count(bytes.begin(), bytes.end(), '\n');
}

// Descriptors are looked at before the queue is made, so that it writes to the right one.
int OwnTerminalDescriptor(int fd) {
    if (::isatty(fd) == 1) {
        // A terminal may take only part of a write and hold the rest, so it gets a descriptor
        // of our own that may be made non-blocking without touching the shell's.
        if (const char* name = ::ttyname(fd)) {
            return ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }
    return -1;
}

} // namespace

LogOutput::LogOutput(int fd, qsizetype maximum)
    : descriptor(fd), ownDescriptor(OwnTerminalDescriptor(fd)), bound(maximum),
      queue(
          ownDescriptor >= 0 ? ownDescriptor : fd,
          [this](const char* data, qint64 size) { return WriteSome(data, size); },
          WriteQueue::Hooks{[this] {
                                failed = false;
                                TellDroppedOnceCaughtUp();
                            },
                            {},
                            [this](int error) { WriteFailed(error); },
                            {}}) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        broken = true; // closed by whoever started us: nothing can be shown
        return;
    }
    // Files, and devices that are no terminal (/dev/null), take every write at once.
    alwaysWritable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ||
                     (S_ISCHR(status.st_mode) && ::isatty(fd) != 1);
}

LogOutput::~LogOutput() {
    // A reader that has stopped for good would keep the program from ending.
    Drain(2000);
    queue.ReleaseDescriptor();
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
    // The bound is for what waits: what the descriptor takes at once (a file takes it all)
    // never counts against it.
    const qint64 written = queue.WriteNow(lines);
    if (written < 0) {
        return;
    }
    lines = lines.sliced(written);
    if (lines.isEmpty()) {
        return;
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
    queue.Append(lines.first(taken));
}

bool LogOutput::Drain(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        Flush();
        if (broken || failed || (Pending() == 0 && dropped == 0)) {
            return !broken && !failed;
        }
        pollfd ready{Target(), POLLOUT, 0};
        const int remaining = static_cast<int>(deadline.remainingTime());
        if (remaining <= 0 || ::poll(&ready, 1, remaining) == 0) {
            return false;
        }
    }
}

void LogOutput::Flush() {
    TellDroppedOnceCaughtUp();
    queue.Flush();
}

// Writes what the descriptor takes without waiting; -1 with EAGAIN when it takes nothing now.
qint64 LogOutput::WriteSome(const char* data, qint64 size) {
    if (!alwaysWritable && ownDescriptor < 0) {
        // A pipe or socket that polls writable takes PIPE_BUF bytes at once without blocking.
        pollfd ready{descriptor, POLLOUT, 0};
        int polled;
        do {
            polled = ::poll(&ready, 1, 0);
        } while (polled < 0 && errno == EINTR);
        if (polled == 0) {
            errno = EAGAIN;
            return -1;
        }
        if (size > PIPE_BUF) {
            // Whole lines where they fit: then no other writer's output lands inside a line.
            const qsizetype lineEnd = QByteArrayView(data, PIPE_BUF).lastIndexOf('\n');
            size = lineEnd >= 0 ? lineEnd + 1 : PIPE_BUF;
        }
    }
    return ::write(Target(), data, static_cast<size_t>(size));
}

void LogOutput::WriteFailed(int error) {
    const QByteArray lost = queue.Discard();
    if (error == EPIPE || error == EBADF) {
        // The reader has gone for good (where the broken pipe did not end the program).
        broken = true;
        return;
    }
    // A full disk or a failing device: what waits is lost, and said so once writing works
    // (a lost count of dropped lines counts as one line).
    dropped += CountLines(lost);
    failed = true;
}

void LogOutput::TellDroppedOnceCaughtUp() {
    if (dropped == 0 || Pending() > bound / 2) {
        return;
    }
    const qint64 count = std::exchange(dropped, 0);
    queue.Append(QByteArrayLiteral("quorlin: dropped ") + QByteArray::number(count) +
                 QByteArrayLiteral(" lines: the output was not read in time\n"));
}
