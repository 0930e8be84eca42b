#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <memory>

class QSocketNotifier;

// Whole lines for a descriptor shared with others (standard output), written only as far as
// it takes them without waiting: a reader that stops reading (a pager, Ctrl-S in a terminal)
// must never stop the relay, which runs on the same one thread. What the descriptor does not
// take yet waits here, up to a bound; past it, new lines are dropped whole, and once the reader
// has caught up a line says how many were lost. The descriptor itself stays blocking, since the
// shell and other processes share it.
class LogOutput : public QObject {
public:
    static constexpr qsizetype DefaultBound = 1024 * 1024;

    explicit LogOutput(int descriptor, qsizetype bound = DefaultBound);
    // Writes what is still waiting, for a short while at most.
    ~LogOutput() override;

    // Lines, each ending with '\n'.
    void Append(QByteArrayView lines);
    // Bytes waiting to be written.
    qsizetype Pending() const { return queue.size() - head; }

    // Waits up to timeoutMs for the descriptor to take what is waiting; true when all went.
    bool Drain(int timeoutMs);

private:
    void Flush();
    bool WriteChunk();
    void WaitUntilWritable();
    void TellDropped();
    void Drop(QByteArrayView lines);

    int descriptor;
    int ownDescriptor = -1; // a non-blocking way to the same terminal, when there is one
    bool alwaysWritable = false;
    bool broken = false; // the reader has gone for good
    bool failed = false; // the last write failed for another reason
    qsizetype bound;
    QByteArray queue;
    qsizetype head = 0; // bytes of queue already written
    qint64 dropped = 0;
    std::unique_ptr<QSocketNotifier> writable;
};
