#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

// One TCP connection as the relay uses it, whichever side it leads to: bytes in (Take, announced
// by Arrived), bytes out (Send), and reading held back while the other side cannot keep up.
// Unread data then stays in the kernel, so memory stays bounded. Everything happens on the Qt
// event-loop thread; refused operations come back as results.
//
// While reading is paused nothing is announced: neither bytes nor the peer's end, which waits
// behind the bytes it followed, nor a failure found after that end.
class Connection : public QObject {
    Q_OBJECT

public:
    // How many bytes Qt or the socket may hold unread before reading from the kernel stops.
    static constexpr qint64 ReadBufferLimit = 1024 * 1024;
    // A mail client sends commands, a few short lines at a time: whatever is read ahead of
    // their replies becomes replies waiting in memory, so less is read from clients.
    static constexpr qint64 ClientReadLimit = 64 * 1024;

    using QObject::QObject;

    // Open: connected and not failed (a peer that has only finished sending still counts).
    virtual bool IsOpen() const = 0;
    virtual Result<> Send(const QByteArray& bytes) = 0;
    // Everything read so far, handed over without a copy.
    virtual QByteArray Take() = 0;
    virtual qint64 BytesAvailable() const = 0;
    virtual qint64 BytesToWrite() const = 0;
    // Bytes sent have not all reached the peer: some wait to be written, or in the kernel for
    // the peer to take them.
    virtual bool Delivering() const { return BytesToWrite() > 0; }
    // Ends the sending side (TCP FIN) once everything written so far has gone out; what the
    // peer sends is still read.
    virtual void FinishSending() = 0;
    // Lets go: what was written still goes out, nothing more is announced, and the connection
    // may be used again (a server connection connects anew).
    virtual void Close() = 0;
    // The other end's address; null once closed.
    virtual QHostAddress PeerAddress() const = 0;
    // What goes either way is inside TLS now.
    virtual bool IsEncrypted() const { return false; }

    void SetReadPaused(bool paused);
    bool ReadPaused() const { return readPaused; }
    // The peer will send nothing more (it closed or finished its sending side).
    bool PeerFinished() const { return peerFinished; }
    bool HasFailed() const { return failed; }
    // Why the connection failed, for the user.
    QString ErrorText() const { return errorText; }

Q_SIGNALS:
    void Arrived();
    void PeerFinishedSending();
    // The connection could not be made, or broke; ErrorText says why.
    void Failed();
    // Some of what was sent has gone out; this much still waits.
    void Written(qint64 pendingBytes);

protected:
    // For the kinds of connection: they report, this class holds back what a pause asks for.
    void ReportArrival();
    void ReportPeerFinished();
    void ReportFailure(const QString& why);
    // Bytes the kernel holds for the descriptor's peer, not taken (acknowledged) by it yet.
    static bool KernelHoldsUnsent(qintptr descriptor);
    // A new connection in this object: nothing owed, nothing failed.
    void ResetReports();
    // Its life has ended: nothing owed is announced any more.
    void DropReports();

private:
    void DeliverHeldBack();

    bool readPaused = false;
    bool peerFinished = false;
    bool failed = false;
    bool finishOwed = false;  // the peer's end waits behind paused bytes
    bool failureOwed = false; // a failure waits behind the owed end
    QString errorText;
};
