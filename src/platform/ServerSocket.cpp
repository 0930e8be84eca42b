#include "platform/ServerSocket.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <sys/socket.h>

QString HostWithoutBrackets(const QString& host) {
    const QString trimmed = host.trimmed();
    if (trimmed.size() > 2 && trimmed.startsWith(QLatin1Char('[')) &&
        trimmed.endsWith(QLatin1Char(']'))) {
        return trimmed.sliced(1, trimmed.size() - 2);
    }
    return host;
}

ServerSocket::ServerSocket(QObject* parent) : Connection(parent) {}

ServerSocket::~ServerSocket() {
    // Make sure none of the socket's last signals reaches a half-destroyed us.
    if (socket) {
        socket->disconnect(this);
    }
}

Result<> ServerSocket::Connect(const QString& remoteHost, quint16 port, const TlsPolicy& policy) {
    if (socket) {
        return Result<>::Failure(tr("Connect needs a closed connection."));
    }
    host = HostWithoutBrackets(remoteHost);
    ResetReports();
    handshakeFailed = false;
    startTlsAsked = false;
    sendingFinished = false;
    if (policy.mode == SecurityMode::None) {
        // A plain socket, not a TLS one left unencrypted: that would add a buffer in between.
        auto* created = new QTcpSocket(this);
        Adopt(created);
        created->connectToHost(host, port);
        return {};
    }
    auto* created = new QSslSocket(this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!policy.extraAuthorities.isEmpty()) {
        configuration.addCaCertificates(policy.extraAuthorities);
    }
    created->setSslConfiguration(configuration);
    Adopt(created);
    connect(created, &QSslSocket::sslErrors, this, &ServerSocket::CertificateFaults);
    connect(created, &QSslSocket::encrypted, this, &ServerSocket::OnEncrypted);
    handshaking = policy.mode == SecurityMode::Tls;
    if (handshaking) {
        created->connectToHostEncrypted(host, port);
    } else {
        created->connectToHost(host, port);
    }
    return {};
}

Result<> ServerSocket::StartTls() {
    auto* secure = qobject_cast<QSslSocket*>(socket);
    if (!secure || !IsOpen() || secure->isEncrypted()) {
        return Result<>::Failure(tr("StartTls needs a plain connection that is open."));
    }
    handshaking = true;
    startTlsAsked = true;
    // The name the certificate is checked against is the host we were told to reach.
    secure->setPeerVerifyName(host);
    secure->startClientEncryption();
    return {};
}

bool ServerSocket::Connecting() const {
    return socket && !HasFailed() && !PeerFinished() &&
           (handshaking || socket->state() != QAbstractSocket::ConnectedState);
}

bool ServerSocket::IsEncrypted() const {
    const auto* secure = qobject_cast<const QSslSocket*>(socket);
    return secure && secure->isEncrypted();
}

QSslCertificate ServerSocket::PeerCertificate() const {
    const auto* secure = qobject_cast<const QSslSocket*>(socket);
    return secure ? secure->peerCertificate() : QSslCertificate();
}

void ServerSocket::AcceptCertificateFaults(const QList<QSslError>& errors) {
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        secure->ignoreSslErrors(errors);
    }
}

bool ServerSocket::IsOpen() const {
    return socket && socket->state() == QAbstractSocket::ConnectedState && !handshaking &&
           !PeerFinished() && !HasFailed();
}

Result<> ServerSocket::Send(const QByteArray& bytes) {
    if (!IsOpen() || sendingFinished) {
        return Result<>::Failure(tr("The mail server is not connected."));
    }
    if (bytes.isEmpty()) {
        return {};
    }
    if (socket->write(bytes) != bytes.size()) {
        return Result<>::Failure(socket->errorString());
    }
    // Hand it to the kernel now rather than on the next pass of the event loop: a short reply
    // then costs one system call instead of a wake-up and a write later.
    socket->flush();
    return {};
}

QByteArray ServerSocket::Take() {
    // read() of exactly what is buffered hands over Qt's buffer; readAll() would copy every byte.
    return socket ? socket->read(socket->bytesAvailable()) : QByteArray();
}

qint64 ServerSocket::BytesAvailable() const {
    return socket ? socket->bytesAvailable() : 0;
}

qint64 ServerSocket::BytesToWrite() const {
    return socket ? socket->bytesToWrite() : 0;
}

void ServerSocket::FinishSending() {
    if (socket && socket->state() == QAbstractSocket::ConnectedState) {
        sendingFinished = true;
        ShutDownIfDrained();
    }
}

void ServerSocket::ShutDownIfDrained() {
    if (sendingFinished && socket && socket->bytesToWrite() == 0) {
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    }
}

void ServerSocket::Close() {
    if (socket) {
        QTcpSocket* leaving = std::exchange(socket, nullptr);
        leaving->disconnect(this);
        if (leaving->state() == QAbstractSocket::ConnectedState) {
            // Let what was already sent reach the peer; the object goes once the close is done.
            connect(leaving, &QTcpSocket::disconnected, leaving, &QObject::deleteLater);
            connect(leaving, &QTcpSocket::errorOccurred, leaving, &QObject::deleteLater);
            leaving->disconnectFromHost();
            if (leaving->state() == QAbstractSocket::UnconnectedState) {
                leaving->deleteLater();
            }
        } else {
            leaving->abort();
            leaving->deleteLater();
        }
    }
    handshaking = false;
    handshakeFailed = false;
    startTlsAsked = false;
    sendingFinished = false;
    arrivalQueued = false;
    DropReports();
}

QHostAddress ServerSocket::PeerAddress() const {
    return socket ? socket->peerAddress() : QHostAddress();
}

void ServerSocket::Adopt(QTcpSocket* created) {
    socket = created;
    socket->setReadBufferSize(ReadBufferLimit);
    // Small replies must not wait for delayed ACKs: a relay that writes what it reads at once
    // would otherwise stall at the end of a multi-line reply.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::connected, this, &ServerSocket::OnConnected);
    connect(socket, &QTcpSocket::readyRead, this, &ServerSocket::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &ServerSocket::OnDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &ServerSocket::OnSocketError);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        ShutDownIfDrained();
        Q_EMIT Written(socket->bytesToWrite());
    });
}

void ServerSocket::OnConnected() {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (handshaking) {
        Q_EMIT HandshakeStarted();
    } else {
        Q_EMIT Connected();
    }
}

void ServerSocket::OnEncrypted() {
    handshaking = false;
    if (startTlsAsked) {
        Q_EMIT Encrypted();
    } else {
        Q_EMIT Connected();
    }
}

void ServerSocket::OnReadyRead() {
    if (!IsEncrypted()) {
        ReportArrival();
        return;
    }
    // Qt announces decrypted data a few KB at a time while it works through what came in; one
    // arrival once it is done keeps blocks large, as on a plain connection, instead of a relay
    // step and a write for every few KB.
    if (!arrivalQueued) {
        arrivalQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                arrivalQueued = false;
                if (socket) {
                    ReportArrival();
                }
            },
            Qt::QueuedConnection);
    }
}

void ServerSocket::OnDisconnected() {
    if (HasFailed() || !socket) {
        return;
    }
    ReportPeerFinished();
}

void ServerSocket::OnSocketError() {
    if (!socket || socket->error() == QAbstractSocket::RemoteHostClosedError || PeerFinished()) {
        return; // an orderly or reset close from the peer: OnDisconnected reports it
    }
    const auto error = socket->error();
    handshakeFailed = handshaking && (error == QAbstractSocket::SslHandshakeFailedError ||
                                      error == QAbstractSocket::SslInternalError ||
                                      error == QAbstractSocket::SslInvalidUserDataError);
    handshaking = false;
    ReportFailure(socket->errorString());
}
