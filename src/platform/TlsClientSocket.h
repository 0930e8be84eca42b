#pragma once

#include "platform/Connection.h"
#include "platform/TlsIdentity.h"

class QSslSocket;

// A mail client's connection inside TLS, Quorlin being the TLS server with its certificate: from
// the first byte on the implicit-TLS port, or after STLS on a plain connection whose descriptor
// it takes over. Bytes arrive once the handshake is done; what is sent before then waits and
// goes out encrypted. Unlike a plain ClientSocket it cannot go on writing once the client has
// finished its sending side: Qt's TLS socket closes on the peer's end, so the client's end is
// the connection's end.
class TlsClientSocket : public Connection {
    Q_OBJECT

public:
    TlsClientSocket(qintptr descriptor, const TlsIdentity& identity, QObject* parent = nullptr);
    ~TlsClientSocket() override;

    // After Close, how long the connection may take to deliver what was written to it.
    static constexpr int CloseLingerMs = 5000;

    bool IsOpen() const override;
    Result<> Send(const QByteArray& bytes) override;
    QByteArray Take() override;
    qint64 BytesAvailable() const override;
    qint64 BytesToWrite() const override;
    bool Delivering() const override;
    // TLS as Qt offers it has no half close: the sending side ends with the whole connection.
    void FinishSending() override;
    void Close() override;
    QHostAddress PeerAddress() const override;
    bool IsEncrypted() const override;

Q_SIGNALS:
    // The handshake is done.
    void Encrypted();

private:
    void OnDisconnected();
    void OnError();

    QSslSocket* socket = nullptr;
};
