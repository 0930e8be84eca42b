#pragma once

#include "platform/WriteQueue.h"

#include <QByteArray>
#include <QByteArrayView>

// Whole lines for a descriptor shared with others (standard output), written only as far as
// it takes them without waiting: a reader that stops reading (a pager, Ctrl-S in a terminal)
// must never stop the relay, which runs on the same one thread. What the descriptor does not
// take yet waits here, up to a bound; past it, new lines are dropped whole, and once the reader
// has caught up a line says how many were lost. The descriptor itself stays blocking, since the
// shell and other processes share it.
class LogOutput {
public:
    static constexpr qsizetype DefaultBound = 1024 * 1024;

    explicit LogOutput(int descriptor, qsizetype bound = DefaultBound);
    // Writes what is still waiting, for a short while at most.
    ~LogOutput();
    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    // Lines, each ending with '\n'. What the descriptor takes at once is not copied.
    void Append(QByteArrayView lines);
    // Bytes waiting to be written.
    qsizetype Pending() const { return queue.Pending(); }

    // Waits up to timeoutMs for the descriptor to take what is waiting; true when all went.
    bool Drain(int timeoutMs);

private:
    int Target() const { return ownDescriptor >= 0 ? ownDescriptor : descriptor; }
    qint64 WriteSome(const char* data, qint64 size);
    void Flush();
    void WriteFailed(int error);
    void TellDroppedOnceCaughtUp();

    int descriptor;
    int ownDescriptor = -1; // a non-blocking way to the same terminal, when there is one
    bool alwaysWritable = false;
    bool broken = false; // the reader has gone for good
    bool failed = false; // the last write failed for another reason
    qsizetype bound;
    qint64 dropped = 0;
    WriteQueue queue;
};
