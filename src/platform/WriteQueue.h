#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

// Bytes on their way to a descriptor that may take only part of them at a time (a socket, a
// terminal, a pipe): what it does not take at once waits here, in the order given, and goes out
// when the descriptor is writable again; the event loop never waits for it.
class WriteQueue {
public:
    // Hands bytes to the descriptor without blocking: how many it took, or -1 with errno set
    // (EAGAIN when it takes nothing now).
    using Writer = std::function<qint64(const char* data, qint64 size)>;

    struct Hooks {
        std::function<void()> progressed;         // some bytes went out
        std::function<void()> drained;            // nothing waits any more
        std::function<void(int error)> failed;    // a write failed for good (errno); stops here
        std::function<void(bool wrote)> writable; // the descriptor was writable again
    };

    WriteQueue(int descriptor, Writer writer, Hooks hooks);
    ~WriteQueue();
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Queues bytes behind those waiting and writes what the descriptor takes now. The array is
    // shared, not copied; bytes of a view are copied only when they cannot go out at once.
    void Append(const QByteArray& bytes);
    void Append(QByteArrayView bytes);
    // Writes from the view what the descriptor takes at once, when nothing waits (otherwise
    // nothing): how many bytes went, or -1 when the descriptor failed. The rest is the caller's.
    qint64 WriteNow(QByteArrayView bytes);
    // Writes what the descriptor takes now; the rest once it is writable.
    void Flush();

    qint64 Pending() const { return pending; }
    // Drops whatever waits and gives it back.
    QByteArray Discard();
    void StopWaiting();
    // The descriptor is about to be closed: no more waiting on it.
    void ReleaseDescriptor();

private:
    qint64 WriteDirectly(const char* data, qint64 size);
    void WaitForDescriptor();
    bool Waiting() const;

    int descriptor;
    Writer writer;
    Hooks hooks;
    std::deque<QByteArray> blocks;
    qsizetype frontOffset = 0; // bytes of the first block already written
    qint64 pending = 0;
    bool flushing = false;
    std::unique_ptr<QSocketNotifier> notifier;
};
