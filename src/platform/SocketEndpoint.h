#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include "platform/TlsTrust.h"

class QSslError;
class QTcpSocket;
class StreamSocket;
class EndpointListener;

// The result of a socket operation: refused operations come back here instead of throwing out
// of the event loop, and the caller decides what to do.
struct SocketResult {
    bool ok = true;
    QString error;

    static SocketResult Done() { return {}; }
    static SocketResult Refused(const QString& why) { return {false, why}; }
    explicit operator bool() const { return ok; }
};

// A host as written for a connection: "[::1]", the form of an IPv6 address in a URL, is the
// address inside; anything else is as given.
QString HostWithoutBrackets(const QString& host);

// One TCP endpoint with the state numbers and the three events the relay is written against.
// It is either a client connection (Connect), a listener (Listen) or, after Accept, the
// connection the listener was asked for. Everything happens on the Qt event-loop thread.
//
// An accepted connection keeps writing after the peer has finished sending: state 8 and the
// close event then mean "nothing more will come", not "nobody is listening". A peer that has
// gone entirely shows when a write fails: state 9 and ErrorEvent.
class SocketEndpoint : public QObject {
    Q_OBJECT

public:
    // The numbering is binding: the relay compares and adds these values.
    enum StateNumber : int {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8, // the peer has closed; stays until Close is called
        Error = 9,
    };

    explicit SocketEndpoint(QObject* parent = nullptr);
    ~SocketEndpoint() override;

    int State() const;

    void SetRemoteHost(const QString& host) { remoteHost = HostWithoutBrackets(host); }
    void SetRemotePort(quint16 port) { remotePort = port; }
    void SetLocalPort(quint16 port) { localPort = port; }
    void SetLocalAddress(const QHostAddress& address) { localAddress = address; }
    QString RemoteHost() const { return remoteHost; }
    quint16 RemotePort() const { return remotePort; }
    quint16 LocalPort() const;

    // How the next Connect reaches its peer. With SecurityMode::Tls the handshake starts at
    // once; with StartTls the connection stays plain until StartTls is called.
    void SetTlsPolicy(const TlsPolicy& policy) { tlsPolicy = policy; }
    const TlsPolicy& Policy() const { return tlsPolicy; }

    SocketResult Connect();
    // Turns a plain connection into TLS (after the peer agreed to STLS). Until the handshake
    // is done the state reads Connecting, so nothing is sent in clear by mistake.
    SocketResult StartTls();
    bool IsEncrypted() const;
    SocketResult Listen();
    SocketResult Accept(qint32 requestId);
    // Takes a request announced by this listener into another, closed endpoint; this one keeps
    // listening.
    SocketResult AcceptInto(qint32 requestId, SocketEndpoint& target);
    SocketResult SendData(const QByteArray& data);
    QByteArray GetData();
    void Close();

    // Ends the sending side (TCP FIN) once everything written so far has gone out; what the
    // peer sends is still read.
    void FinishSending();

    // Why the endpoint went to state 9, for the user.
    QString ErrorText() const { return errorText; }

    // Flow control: bytes still waiting to be written, and holding back DataArrival while the
    // other side cannot keep up. Unread data stays in the kernel, so memory stays bounded.
    qint64 BytesToWrite() const;
    void SetReadPaused(bool paused);
    bool ReadPaused() const { return readPaused; }

    // How long a listener waits before accepting again after running out of descriptors.
    static constexpr int AcceptRetryMs = 500;

    // How many bytes Qt may hold unread per connection before it stops reading from the kernel.
    static constexpr qint64 ReadBufferLimit = 1024 * 1024;
    // After Close, how long an accepted connection may take to deliver what was written to it.
    static constexpr int CloseLingerMs = 5000;

Q_SIGNALS:
    void ConnectionRequest(qint32 requestId);
    void DataArrival(qint32 bytesTotal);
    void CloseEvent();
    // Not part of the classic contract: lets the relay notice a connect that failed.
    void ErrorEvent();
    void BytesWritten(qint64 pendingBytes);
    // The TLS handshake is done and the peer's certificate trusted.
    void Encrypted();
    // The TLS handshake failed or its certificate was refused; ErrorEvent follows.
    void TlsFailed(const QString& reason, const QSslCertificate& certificate);

private:
    void AdoptSocket(QTcpSocket* socket);
    void AdoptStream(qintptr descriptor);
    void OnIncoming(qintptr descriptor);
    void OnPeerFinished();
    void OnWriteFailed();
    qint64 Available() const;
    void ShutDownSocketIfDrained();
    void ReleaseSocket(bool flushPending);
    void OnReadyRead();
    void EmitDataArrival();
    void OnDisconnected();
    void OnSocketError();
    void DeliverPendingData();
    void OnSslErrors(const QList<QSslError>& errors);
    void OnEncrypted();

    QString remoteHost;
    quint16 remotePort = 0;
    quint16 localPort = 0;
    QHostAddress localAddress = QHostAddress::Any;

    EndpointListener* server = nullptr;
    QTcpSocket* socket = nullptr;
    StreamSocket* stream = nullptr;
    QHash<qint32, qintptr> pendingRequests;
    qint32 nextRequestId = 1;

    bool peerClosed = false;
    bool closeEventOwed = false;
    bool failed = false;
    bool readPaused = false;
    bool errorEventOwed = false;
    bool finishOwed = false;
    QString errorText;

    TlsPolicy tlsPolicy;
    bool handshaking = false;
    bool arrivalQueued = false;
    QString tlsRefusal; // the verdict on the certificate, when it was refused
};
