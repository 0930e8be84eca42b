#include "platform/WriteQueue.h"

#include <QScopeGuard>
#include <QSocketNotifier>

#include <cerrno>

WriteQueue::WriteQueue(int fd, Writer write, Hooks callbacks)
    : descriptor(fd), writer(std::move(write)), hooks(std::move(callbacks)) {}

WriteQueue::~WriteQueue() {
    ReleaseDescriptor();
}

bool WriteQueue::Waiting() const {
    return notifier && notifier->isEnabled();
}

void WriteQueue::Append(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    blocks.push_back(bytes);
    pending += bytes.size();
    if (!flushing && !Waiting()) {
        Flush();
    }
}

void WriteQueue::Append(QByteArrayView bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    if (pending == 0 && !flushing && !Waiting()) {
        const qint64 taken = WriteNow(bytes);
        if (taken < 0) {
            return;
        }
        bytes = bytes.sliced(taken);
        if (bytes.isEmpty()) {
            return;
        }
        WaitForDescriptor();
    }
    Append(bytes.toByteArray());
}

qint64 WriteQueue::WriteNow(QByteArrayView bytes) {
    if (bytes.isEmpty() || pending > 0 || flushing || Waiting()) {
        return 0;
    }
    const qint64 taken = WriteDirectly(bytes.data(), bytes.size());
    if (taken == bytes.size() && hooks.drained) {
        hooks.drained();
    }
    return taken;
}

qint64 WriteQueue::WriteDirectly(const char* data, qint64 size) {
    flushing = true;
    const auto finished = qScopeGuard([this] { flushing = false; });
    qint64 done = 0;
    while (done < size) {
        const qint64 written = writer(data + done, size - done);
        if (written >= 0) {
            done += written;
            if (hooks.progressed) {
                hooks.progressed();
            }
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        if (hooks.failed) {
            hooks.failed(errno);
        }
        return -1;
    }
    return done;
}

void WriteQueue::Flush() {
    flushing = true;
    while (!blocks.empty()) {
        const QByteArray& front = blocks.front();
        const qint64 written = writer(front.constData() + frontOffset, front.size() - frontOffset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            flushing = false;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                WaitForDescriptor();
            } else if (hooks.failed) {
                hooks.failed(errno);
            }
            return;
        }
        frontOffset += written;
        pending -= written;
        if (frontOffset == blocks.front().size()) {
            blocks.pop_front();
            frontOffset = 0;
        }
        if (hooks.progressed) {
            hooks.progressed();
        }
    }
    flushing = false;
    StopWaiting();
    if (hooks.drained) {
        hooks.drained();
    }
}

QByteArray WriteQueue::Discard() {
    QByteArray dropped;
    for (const QByteArray& block : blocks) {
        dropped += block;
    }
    dropped.remove(0, frontOffset);
    blocks.clear();
    frontOffset = 0;
    pending = 0;
    StopWaiting();
    return dropped;
}

void WriteQueue::StopWaiting() {
    if (notifier) {
        notifier->setEnabled(false);
    }
}

// Possibly from inside the notifier's own signal: it goes once that is over.
void WriteQueue::ReleaseDescriptor() {
    if (notifier) {
        notifier->setEnabled(false);
        notifier.release()->deleteLater();
    }
}

void WriteQueue::WaitForDescriptor() {
    if (!notifier) {
        notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
            const qint64 before = pending;
            Flush();
            if (hooks.writable) {
                hooks.writable(pending != before);
            }
        });
    }
    notifier->setEnabled(true);
}
