#pragma once

#include "platform/Connection.h"

class StreamSocket;

// A mail client's connection, as the listener accepted it. It keeps writing after the client
// has finished sending (a client that half-closes still gets every reply): its end means
// "nothing more will come", not "nobody is listening". A client that has gone entirely shows
// when a write fails. Close lets what was sent reach the client and awaits its end briefly.
class ClientSocket : public Connection {
    Q_OBJECT

public:
    explicit ClientSocket(qintptr descriptor, QObject* parent = nullptr);
    ~ClientSocket() override;

    // After Close, how long the connection may take to deliver what was written to it.
    static constexpr int CloseLingerMs = 5000;

    bool IsOpen() const override;
    Result<> Send(const QByteArray& bytes) override;
    QByteArray Take() override;
    qint64 BytesAvailable() const override;
    qint64 BytesToWrite() const override;
    bool Delivering() const override;
    void FinishSending() override;
    void Close() override;
    QHostAddress PeerAddress() const override;

    quint16 LocalPort() const;

    // For STLS: reads nothing more (what was read and not taken is dropped, as RFC 2595 asks for
    // bytes sent ahead of the handshake) and, once everything written has gone out, gives the
    // descriptor up, open, in HandedOver; the object is then closed.
    void HandOver();

Q_SIGNALS:
    void HandedOver(qintptr descriptor);

private:
    void OnWriteFailed();
    void ReleaseDescriptor();

    StreamSocket* stream = nullptr;
};
