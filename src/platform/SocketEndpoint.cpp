#include "platform/SocketEndpoint.h"

#include "platform/StreamSocket.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

// Hands each accepted descriptor over as it is, so the connection can become a StreamSocket.
class EndpointListener : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(qintptr descriptor) override { incoming(descriptor); }
};

SocketEndpoint::SocketEndpoint(QObject* parent) : QObject(parent) {}

SocketEndpoint::~SocketEndpoint() {
    // Sockets are children; make sure none of their last signals reaches a half-destroyed us.
    if (socket) {
        socket->disconnect(this);
    }
    if (stream) {
        stream->disconnect(this);
        stream->CloseWhenDone(CloseLingerMs);
    }
    for (const qintptr descriptor : std::as_const(pendingRequests)) {
        ::close(int(descriptor));
    }
}

int SocketEndpoint::State() const {
    if (failed) {
        return Error;
    }
    if (server && server->isListening()) {
        return Listening;
    }
    if (stream) {
        return peerClosed ? Closing : Connected;
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

QString HostWithoutBrackets(const QString& host) {
    const QString trimmed = host.trimmed();
    if (trimmed.size() > 2 && trimmed.startsWith(QLatin1Char('[')) &&
        trimmed.endsWith(QLatin1Char(']'))) {
        return trimmed.sliced(1, trimmed.size() - 2);
    }
    return host;
}

quint16 SocketEndpoint::LocalPort() const {
    if (server && server->isListening()) {
        return server->serverPort();
    }
    if (socket) {
        return socket->localPort();
    }
    if (stream) {
        return stream->LocalPort();
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
        server = new EndpointListener(this);
        server->incoming = [this](qintptr descriptor) { OnIncoming(descriptor); };
        // QTcpServer stops accepting for good after an accept that failed for want of
        // resources (no descriptor left): the program would look up but serve nobody. It tries
        // again a moment later, when the conversations that ended may have given some back.
        connect(server, &QTcpServer::acceptError, this, [this] {
            QTimer::singleShot(AcceptRetryMs, server, [this] {
                if (server->isListening()) {
                    server->resumeAccepting();
                }
            });
        });
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
    return AcceptInto(requestId, *this);
}

SocketResult SocketEndpoint::AcceptInto(qint32 requestId, SocketEndpoint& target) {
    if (target.State() != Closed) {
        return SocketResult::Refused(
            tr("Accept needs a closed socket (state %1).").arg(target.State()));
    }
    const auto requested = pendingRequests.constFind(requestId);
    if (requested == pendingRequests.constEnd()) {
        return SocketResult::Refused(tr("No connection request %1 is waiting.").arg(requestId));
    }
    const qintptr descriptor = *requested;
    pendingRequests.erase(requested);
    target.AdoptStream(descriptor);
    return SocketResult::Done();
}

SocketResult SocketEndpoint::SendData(const QByteArray& data) {
    // A peer that has only finished its own sending still takes replies.
    const bool writable = State() == Connected || (stream && State() == Closing);
    if (!writable || finishOwed) {
        return SocketResult::Refused(
            tr("SendData needs a connected socket (state %1).").arg(State()));
    }
    if (data.isEmpty()) {
        return SocketResult::Done();
    }
    if (stream) {
        if (!stream->Write(data)) {
            return SocketResult::Refused(errorText);
        }
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
    if (stream) {
        return stream->TakeAll();
    }
    return socket ? socket->read(socket->bytesAvailable()) : QByteArray();
}

void SocketEndpoint::Close() {
    ReleaseSocket(true);
    if (stream) {
        StreamSocket* leaving = std::exchange(stream, nullptr);
        leaving->disconnect(this);
        leaving->CloseWhenDone(CloseLingerMs);
    }
    if (server) {
        server->close();
    }
    // A request being announced stays acceptable: the handler closes the listener, then accepts.
    peerClosed = false;
    closeEventOwed = false;
    failed = false;
    readPaused = false;
    errorEventOwed = false;
    finishOwed = false;
    errorText.clear();
    handshaking = false;
    tlsRefusal.clear();
}

void SocketEndpoint::FinishSending() {
    if (stream) {
        stream->FinishSending();
        return;
    }
    if (socket && socket->state() == QAbstractSocket::ConnectedState) {
        finishOwed = true;
        ShutDownSocketIfDrained();
    }
}

void SocketEndpoint::ShutDownSocketIfDrained() {
    if (finishOwed && socket && socket->bytesToWrite() == 0) {
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    }
}

qint64 SocketEndpoint::BytesToWrite() const {
    if (stream) {
        return stream->BytesToWrite();
    }
    return socket ? socket->bytesToWrite() : 0;
}

qint64 SocketEndpoint::Available() const {
    if (stream) {
        return stream->BytesAvailable();
    }
    return socket ? socket->bytesAvailable() : 0;
}

void SocketEndpoint::SetReadPaused(bool paused) {
    if (readPaused == paused) {
        return;
    }
    readPaused = paused;
    if (!paused && (socket || stream) && (Available() > 0 || closeEventOwed)) {
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
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        ShutDownSocketIfDrained();
        Q_EMIT BytesWritten(socket->bytesToWrite());
    });
}

void SocketEndpoint::AdoptStream(qintptr descriptor) {
    stream = new StreamSocket(descriptor, ReadBufferLimit, this);
    peerClosed = false;
    closeEventOwed = false;
    errorEventOwed = false;
    failed = false;
    errorText.clear();
    connect(stream, &StreamSocket::ReadyRead, this, &SocketEndpoint::OnReadyRead);
    connect(stream, &StreamSocket::PeerFinishedSending, this, &SocketEndpoint::OnPeerFinished);
    connect(stream, &StreamSocket::WriteFailed, this, &SocketEndpoint::OnWriteFailed);
    connect(stream, &StreamSocket::BytesWritten, this, &SocketEndpoint::BytesWritten);
}

void SocketEndpoint::OnPeerFinished() {
    peerClosed = true;
    if (readPaused && Available() > 0) {
        closeEventOwed = true;
        return;
    }
    Q_EMIT CloseEvent();
}

void SocketEndpoint::OnWriteFailed() {
    failed = true;
    errorText = tr("The peer has gone; nothing more can reach it.");
    if (closeEventOwed) {
        errorEventOwed = true;
        return;
    }
    Q_EMIT ErrorEvent();
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
    if (readPaused || (!socket && !stream)) {
        return;
    }
    const qint64 available = Available();
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

void SocketEndpoint::OnIncoming(qintptr descriptor) {
    const qint32 id = nextRequestId++;
    if (nextRequestId <= 0) {
        nextRequestId = 1;
    }
    if (State() != Listening) {
        ::close(int(descriptor));
        return;
    }
    pendingRequests.insert(id, descriptor);
    Q_EMIT ConnectionRequest(id);
    // A request nobody accepted is refused, as a listener that was not asked to take it.
    if (pendingRequests.contains(id)) {
        ::close(int(pendingRequests.take(id)));
    }
}

void SocketEndpoint::DeliverPendingData() {
    if ((!socket && !stream) || readPaused) {
        return;
    }
    EmitDataArrival();
    if ((socket || stream) && closeEventOwed && !readPaused) {
        closeEventOwed = false;
        Q_EMIT CloseEvent();
        if (stream && errorEventOwed) {
            errorEventOwed = false;
            Q_EMIT ErrorEvent();
        }
    }
}
