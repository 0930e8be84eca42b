#pragma once

#include "platform/Connection.h"
#include "platform/TlsTrust.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>

class QTcpSocket;

// A host as written for a connection: "[::1]", the form of an IPv6 address in a URL, is the
// address inside; anything else is as given.
QString HostWithoutBrackets(const QString& host);

// The connection to a mail server: plain TCP, TLS from the first byte, or plain TCP turned into
// TLS on request (StartTls). It can carry bytes once connected and, with TLS, once the handshake
// is done; until then nothing is sent in clear by mistake. Whoever owns it judges the
// certificate: CertificateFaults comes during the handshake, and AcceptCertificateFaults in its
// handler lets the handshake go on. One object serves one connection after another.
class ServerSocket : public Connection {
    Q_OBJECT

public:
    explicit ServerSocket(QObject* parent = nullptr);
    ~ServerSocket() override;

    // Starts connecting; with SecurityMode::Tls the handshake follows at once, with StartTls the
    // connection stays plain until StartTls is called. The policy's CA certificates are trusted
    // beside the system's.
    Result<> Connect(const QString& host, quint16 port, const TlsPolicy& policy);
    // Turns the plain connection into TLS; the certificate is checked against the host name.
    Result<> StartTls();

    // Between Connect and Close, before it can carry bytes.
    bool Connecting() const;
    bool IsEncrypted() const override;
    QSslCertificate PeerCertificate() const;
    void AcceptCertificateFaults(const QList<QSslError>& errors);
    // The failure came during a TLS handshake.
    bool FailedInHandshake() const { return handshakeFailed; }

    bool IsOpen() const override;
    Result<> Send(const QByteArray& bytes) override;
    QByteArray Take() override;
    qint64 BytesAvailable() const override;
    qint64 BytesToWrite() const override;
    void FinishSending() override;
    void Close() override;
    QHostAddress PeerAddress() const override;

Q_SIGNALS:
    // The TCP connection is made where TLS comes first: the handshake begins.
    void HandshakeStarted();
    // It can carry bytes now: connected, and encrypted where TLS comes first.
    void Connected();
    // The handshake asked for by StartTls is done and the certificate trusted.
    void Encrypted();
    void CertificateFaults(const QList<QSslError>& errors);

private:
    void Adopt(QTcpSocket* created);
    void OnConnected();
    void OnEncrypted();
    void OnReadyRead();
    void OnDisconnected();
    void OnSocketError();
    void ShutDownIfDrained();

    QTcpSocket* socket = nullptr;
    QString host;
    bool handshaking = false;
    bool handshakeFailed = false;
    bool startTlsAsked = false;
    bool sendingFinished = false; // FinishSending was asked for
    bool arrivalQueued = false;
};
