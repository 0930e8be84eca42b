#pragma once

#include "platform/WriteQueue.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// An accepted TCP connection on its own descriptor. Unlike QTcpSocket it keeps writing after the
// peer has finished sending (a client that half-closes still gets every reply), it can finish
// its own sending side on request, and it notices a peer that has gone entirely when a write
// fails. Reading stops while its buffer holds ReadLimit bytes, so unread data waits in the kernel.
class StreamSocket : public QObject {
    Q_OBJECT

public:
    StreamSocket(qintptr descriptor, qint64 readLimit, QObject* parent = nullptr);
    ~StreamSocket() override;

    qint64 BytesAvailable() const { return readBuffer.size(); }
    QByteArray TakeAll();
    // False once writing has failed: the peer is gone and nothing more can reach it.
    bool Write(const QByteArray& data);
    qint64 BytesToWrite() const { return writeQueue.Pending(); }

    bool PeerFinished() const { return peerFinished; }
    bool Broken() const { return broken; }
    quint16 LocalPort() const;
    QHostAddress PeerAddress() const;
    int Descriptor() const { return fd; }

    // Reads nothing more; what was read and not taken is dropped.
    void StopReading();
    // Gives the descriptor up without closing it, for another owner; the object is then done.
    int ReleaseDescriptor();

    // Sends FIN once everything written so far has gone out; the connection stays readable.
    void FinishSending();

    // Lets go of the connection: what is still to be written goes out first, the peer's EOF is
    // awaited briefly (closing with unread input would reset the connection and could cost the
    // peer the last reply), then the descriptor is closed and the object deletes itself.
    void CloseWhenDone(int lingerMs);

Q_SIGNALS:
    void ReadyRead();
    void PeerFinishedSending();
    void WriteFailed();
    void BytesWritten(qint64 pendingBytes);

private:
    void OnReadable();
    void OnWritable(bool wrote);
    void ShutDownIfDrained();
    void Fail();
    void CloseNow();

    int fd = -1;
    qint64 readLimit;
    QSocketNotifier* readNotifier = nullptr;
    QByteArray readBuffer;
    WriteQueue writeQueue;
    bool peerFinished = false;
    bool broken = false;
    bool finishOwed = false;
    bool sendingFinished = false;
    bool closing = false;
    bool readingStopped = false;
    QTimer lingerTimer;
};
