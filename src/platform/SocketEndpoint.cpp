#include "platform/SocketEndpoint.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <limits>

SocketEndpoint::SocketEndpoint(QObject* parent) : QObject(parent) {}

SocketEndpoint::~SocketEndpoint() {
    // Sockets are children; make sure none of their last signals reaches a half-destroyed us.
    if (socket) {
        socket->disconnect(this);
    }
    if (server) {
        server->disconnect(this);
    }
}

int SocketEndpoint::State() const {
    if (failed) {
        return Error;
    }
    if (server && server->isListening()) {
        return Listening;
    }
    if (!socket) {
        return Closed;
    }
    if (peerClosed) {
        return Closing;
    }
    if (handshaking && socket->state() == QAbstractSocket::ConnectedState) {
        return Connecting;
    }
    switch (socket->state()) {
    case QAbstractSocket::UnconnectedState:
        return Closed;
    case QAbstractSocket::HostLookupState:
        return ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return Connected;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    }
    return Closed;
}

quint16 SocketEndpoint::LocalPort() const {
    if (server && server->isListening()) {
        return server->serverPort();
    }
    if (socket) {
        return socket->localPort();
    }
    return localPort;
}

SocketResult SocketEndpoint::Connect() {
    if (State() != Closed) {
        return SocketResult::Refused(tr("Connect needs a closed socket (state %1).").arg(State()));
    }
    if (tlsPolicy.mode == SecurityMode::None) {
        // A plain socket, not a TLS one left unencrypted: that would add a buffer in between.
        auto* created = new QTcpSocket(this);
        AdoptSocket(created);
        created->connectToHost(remoteHost, remotePort);
        return SocketResult::Done();
    }
    auto* created = new QSslSocket(this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!tlsPolicy.extraAuthorities.isEmpty()) {
        configuration.addCaCertificates(tlsPolicy.extraAuthorities);
    }
    created->setSslConfiguration(configuration);
    AdoptSocket(created);
    tlsRefusal.clear();
    connect(created, &QSslSocket::sslErrors, this, &SocketEndpoint::OnSslErrors);
    connect(created, &QSslSocket::encrypted, this, &SocketEndpoint::OnEncrypted);
    handshaking = tlsPolicy.mode == SecurityMode::Tls;
    if (handshaking) {
        created->connectToHostEncrypted(remoteHost, remotePort);
    } else {
        created->connectToHost(remoteHost, remotePort);
    }
    return SocketResult::Done();
}

SocketResult SocketEndpoint::StartTls() {
    auto* secure = qobject_cast<QSslSocket*>(socket);
    if (!secure || State() != Connected || secure->isEncrypted()) {
        return SocketResult::Refused(
            tr("StartTls needs a plain connected socket (state %1).").arg(State()));
    }
    handshaking = true;
    // The name the certificate is checked against is the host we were told to reach.
    secure->setPeerVerifyName(remoteHost);
    secure->startClientEncryption();
    return SocketResult::Done();
}

bool SocketEndpoint::IsEncrypted() const {
    const auto* secure = qobject_cast<const QSslSocket*>(socket);
    return secure && secure->isEncrypted();
}

void SocketEndpoint::OnSslErrors(const QList<QSslError>& errors) {
    auto* secure = qobject_cast<QSslSocket*>(socket);
    if (!secure) {
        return;
    }
    const TrustDecision decision =
        DecideTrust(errors, secure->peerCertificate(), tlsPolicy.pinnedFingerprints);
    if (decision.accepted) {
        secure->ignoreSslErrors(errors);
    } else {
        // Qt ends the handshake itself; OnSocketError reports it with this reason.
        tlsRefusal = decision.reason;
    }
}

void SocketEndpoint::OnEncrypted() {
    handshaking = false;
    Q_EMIT Encrypted();
}

SocketResult SocketEndpoint::Listen() {
    if (State() != Closed) {
        return SocketResult::Refused(tr("Listen needs a closed socket (state %1).").arg(State()));
    }
    if (!server) {
        server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this, &SocketEndpoint::OnNewConnection);
    }
    if (!server->listen(localAddress, localPort)) {
        const QString why = server->errorString();
        server->close();
        return SocketResult::Refused(why);
    }
    // Port 0 asks the system for a free port; keep the one it gave for every later Listen.
    localPort = server->serverPort();
    return SocketResult::Done();
}

SocketResult SocketEndpoint::Accept(qint32 requestId) {
    if (State() != Closed) {
        return SocketResult::Refused(tr("Accept needs a closed socket (state %1).").arg(State()));
    }
    QTcpSocket* requested = pendingRequests.take(requestId);
    if (!requested) {
        return SocketResult::Refused(tr("No connection request %1 is waiting.").arg(requestId));
    }
    AdoptSocket(requested);
    if (requested->state() != QAbstractSocket::ConnectedState) {
        // The client left before we took it: report it the same way as a later close.
        peerClosed = true;
        closeEventOwed = true;
    }
    if (requested->bytesAvailable() > 0 || closeEventOwed) {
        QMetaObject::invokeMethod(this, &SocketEndpoint::DeliverPendingData, Qt::QueuedConnection);
    }
    return SocketResult::Done();
}

SocketResult SocketEndpoint::SendData(const QByteArray& data) {
    if (State() != Connected) {
        return SocketResult::Refused(
            tr("SendData needs a connected socket (state %1).").arg(State()));
    }
    if (data.isEmpty()) {
        return SocketResult::Done();
    }
    if (socket->write(data) != data.size()) {
        return SocketResult::Refused(socket->errorString());
    }
    // Hand it to the kernel now rather than on the next pass of the event loop: a short reply
    // then costs one system call instead of a wake-up and a write later.
    socket->flush();
    return SocketResult::Done();
}

QByteArray SocketEndpoint::GetData() {
    // read() of exactly what is buffered hands over Qt's buffer; readAll() would copy every byte.
    return socket ? socket->read(socket->bytesAvailable()) : QByteArray();
}

void SocketEndpoint::Close() {
    ReleaseSocket(true);
    if (server) {
        server->close();
    }
    // A request being announced stays acceptable: the handler closes the listener, then accepts.
    peerClosed = false;
    closeEventOwed = false;
    failed = false;
    readPaused = false;
    errorText.clear();
    handshaking = false;
    tlsRefusal.clear();
}

qint64 SocketEndpoint::BytesToWrite() const {
    return socket ? socket->bytesToWrite() : 0;
}

void SocketEndpoint::SetReadPaused(bool paused) {
    if (readPaused == paused) {
        return;
    }
    readPaused = paused;
    if (!paused && socket && (socket->bytesAvailable() > 0 || closeEventOwed)) {
        QMetaObject::invokeMethod(this, &SocketEndpoint::DeliverPendingData, Qt::QueuedConnection);
    }
}

void SocketEndpoint::AdoptSocket(QTcpSocket* adopted) {
    socket = adopted;
    socket->setParent(this);
    socket->setReadBufferSize(ReadBufferLimit);
    peerClosed = false;
    closeEventOwed = false;
    failed = false;
    errorText.clear();
    // Small replies must not wait for delayed ACKs: a relay that writes what it reads at once
    // would otherwise stall at the end of a multi-line reply.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::connected, this,
            [this] { socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(socket, &QTcpSocket::readyRead, this, &SocketEndpoint::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &SocketEndpoint::OnDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &SocketEndpoint::OnSocketError);
    connect(socket, &QTcpSocket::bytesWritten, this,
            [this] { Q_EMIT BytesWritten(socket->bytesToWrite()); });
}

void SocketEndpoint::ReleaseSocket(bool flushPending) {
    if (!socket) {
        return;
    }
    QTcpSocket* leaving = socket;
    socket = nullptr;
    leaving->disconnect(this);
    if (flushPending && leaving->state() == QAbstractSocket::ConnectedState) {
        // Let what was already sent reach the peer; the object goes once the close completes.
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

void SocketEndpoint::OnReadyRead() {
    if (IsEncrypted()) {
        // Qt announces decrypted data a few KB at a time while it works through what came in;
        // one arrival once it is done keeps blocks large, as on a plain connection, instead of
        // a relay step and a write for every few KB.
        if (!arrivalQueued) {
            arrivalQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    arrivalQueued = false;
                    EmitDataArrival();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    EmitDataArrival();
}

void SocketEndpoint::EmitDataArrival() {
    if (readPaused || !socket) {
        return;
    }
    const qint64 available = socket->bytesAvailable();
    if (available <= 0) {
        return;
    }
    Q_EMIT DataArrival(
        static_cast<qint32>(qMin<qint64>(available, std::numeric_limits<qint32>::max())));
}

void SocketEndpoint::OnDisconnected() {
    if (failed || !socket) {
        return;
    }
    peerClosed = true;
    if (readPaused && socket->bytesAvailable() > 0) {
        // Data still waits behind a paused read: the close is reported after it.
        closeEventOwed = true;
        return;
    }
    Q_EMIT CloseEvent();
}

void SocketEndpoint::OnSocketError() {
    if (!socket || socket->error() == QAbstractSocket::RemoteHostClosedError) {
        return; // an orderly or reset close from the peer: OnDisconnected reports it
    }
    if (peerClosed) {
        return;
    }
    failed = true;
    errorText = socket->errorString();
    const bool tlsError = socket->error() == QAbstractSocket::SslHandshakeFailedError ||
                          socket->error() == QAbstractSocket::SslInternalError ||
                          socket->error() == QAbstractSocket::SslInvalidUserDataError;
    if (handshaking && (tlsError || !tlsRefusal.isEmpty())) {
        handshaking = false;
        const auto* secure = qobject_cast<const QSslSocket*>(socket);
        const QString reason = tlsRefusal.isEmpty() ? errorText : tlsRefusal;
        if (!tlsRefusal.isEmpty()) {
            errorText = tlsRefusal;
        }
        Q_EMIT TlsFailed(reason, secure ? secure->peerCertificate() : QSslCertificate());
    }
    handshaking = false; // a refused or broken TCP connection is reported as before
    Q_EMIT ErrorEvent();
}

void SocketEndpoint::OnNewConnection() {
    while (server && server->hasPendingConnections()) {
        QTcpSocket* incoming = server->nextPendingConnection();
        incoming->setParent(this);
        const qint32 id = nextRequestId++;
        if (nextRequestId <= 0) {
            nextRequestId = 1;
        }
        if (State() != Listening) {
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        pendingRequests.insert(id, incoming);
        Q_EMIT ConnectionRequest(id);
        // A request nobody accepted is refused, as a listener that was not asked to take it.
        if (QTcpSocket* unclaimed = pendingRequests.take(id)) {
            unclaimed->abort();
            unclaimed->deleteLater();
        }
    }
}

void SocketEndpoint::DeliverPendingData() {
    if (!socket || readPaused) {
        return;
    }
    EmitDataArrival();
    if (socket && closeEventOwed && !readPaused) {
        closeEventOwed = false;
        Q_EMIT CloseEvent();
    }
}
