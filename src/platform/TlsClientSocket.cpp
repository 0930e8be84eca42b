#include "platform/TlsClientSocket.h"

#include <QSslSocket>
#include <QTimer>

namespace {
// A block goes to Qt's TLS socket one TLS record's worth at a time, each encrypted and handed to
// the kernel at once: Qt copies what it is given through three buffers of that size, which stay
// small enough to be reused rather than mapped afresh (a megabyte at once cost a page fault for
// every page of every copy).
constexpr qsizetype RecordBytes = 16 * 1024;
} // namespace

TlsClientSocket::TlsClientSocket(qintptr descriptor, const TlsIdentity& identity, QObject* parent)
    : Connection(parent), socket(new QSslSocket(this)) {
    socket->setReadBufferSize(ClientReadLimit);
    socket->setSslConfiguration(ServerTlsConfiguration(identity));
    connect(socket, &QSslSocket::encrypted, this, &TlsClientSocket::Encrypted);
    connect(socket, &QSslSocket::readyRead, this, &TlsClientSocket::ReportArrival);
    connect(socket, &QSslSocket::disconnected, this, &TlsClientSocket::OnDisconnected);
    connect(socket, &QSslSocket::errorOccurred, this, &TlsClientSocket::OnError);
    const auto written = [this] { Q_EMIT Written(BytesToWrite()); };
    connect(socket, &QSslSocket::bytesWritten, this, written);
    connect(socket, &QSslSocket::encryptedBytesWritten, this, written);
    if (!socket->setSocketDescriptor(descriptor)) {
        // Told from the event loop: nobody listens to the object while it is being made.
        QMetaObject::invokeMethod(this, &TlsClientSocket::OnError, Qt::QueuedConnection);
        return;
    }
    // Short replies must not wait for delayed ACKs, as on a plain connection.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->startServerEncryption();
}

TlsClientSocket::~TlsClientSocket() {
    Close();
}

bool TlsClientSocket::IsOpen() const {
    return socket && socket->state() == QAbstractSocket::ConnectedState && !HasFailed();
}

Result<> TlsClientSocket::Send(const QByteArray& bytes) {
    if (!IsOpen()) {
        return Result<>::Failure(tr("The mail client is not connected."));
    }
    for (qsizetype at = 0; at < bytes.size(); at += RecordBytes) {
        const qsizetype size = qMin(RecordBytes, bytes.size() - at);
        if (socket->write(bytes.constData() + at, size) != size) {
            return Result<>::Failure(socket->errorString());
        }
        socket->flush();
    }
    return {};
}

QByteArray TlsClientSocket::Take() {
    return socket ? socket->read(socket->bytesAvailable()) : QByteArray();
}

qint64 TlsClientSocket::BytesAvailable() const {
    return socket ? socket->bytesAvailable() : 0;
}

qint64 TlsClientSocket::BytesToWrite() const {
    return socket ? socket->bytesToWrite() + socket->encryptedBytesToWrite() : 0;
}

bool TlsClientSocket::Delivering() const {
    return BytesToWrite() > 0 || (socket && KernelHoldsUnsent(socket->socketDescriptor()));
}

void TlsClientSocket::FinishSending() {
    if (socket) {
        socket->disconnectFromHost();
    }
}

void TlsClientSocket::Close() {
    if (!socket) {
        return;
    }
    QSslSocket* leaving = std::exchange(socket, nullptr);
    leaving->disconnect(this);
    leaving->setParent(nullptr);
    DropReports();
    if (leaving->state() != QAbstractSocket::ConnectedState) {
        leaving->deleteLater();
        return;
    }
    // What was written still goes out, after a handshake still under way; the object goes once
    // the connection has closed, or after the linger time at the latest.
    connect(leaving, &QSslSocket::disconnected, leaving, &QObject::deleteLater);
    connect(leaving, &QSslSocket::errorOccurred, leaving, &QObject::deleteLater);
    QTimer::singleShot(CloseLingerMs, leaving, [leaving] {
        leaving->abort();
        leaving->deleteLater();
    });
    if (leaving->isEncrypted()) {
        leaving->disconnectFromHost();
    } else {
        connect(leaving, &QSslSocket::encrypted, leaving,
                [leaving] { leaving->disconnectFromHost(); });
    }
}

QHostAddress TlsClientSocket::PeerAddress() const {
    return socket ? socket->peerAddress() : QHostAddress();
}

bool TlsClientSocket::IsEncrypted() const {
    return socket && socket->isEncrypted();
}

void TlsClientSocket::OnDisconnected() {
    if (socket && !HasFailed()) {
        ReportPeerFinished();
    }
}

void TlsClientSocket::OnError() {
    if (!socket || HasFailed() || PeerFinished()) {
        return;
    }
    // An orderly close from the client after the handshake: OnDisconnected reports it.
    if (socket->error() == QAbstractSocket::RemoteHostClosedError && socket->isEncrypted()) {
        return;
    }
    ReportFailure(socket->errorString());
}
