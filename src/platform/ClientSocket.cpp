#include "platform/ClientSocket.h"

#include "platform/StreamSocket.h"

ClientSocket::ClientSocket(qintptr descriptor, QObject* parent)
    : Connection(parent), stream(new StreamSocket(descriptor, ClientReadLimit, this)) {
    connect(stream, &StreamSocket::ReadyRead, this, &ClientSocket::ReportArrival);
    connect(stream, &StreamSocket::PeerFinishedSending, this, &ClientSocket::ReportPeerFinished);
    connect(stream, &StreamSocket::WriteFailed, this, &ClientSocket::OnWriteFailed);
    connect(stream, &StreamSocket::BytesWritten, this, &ClientSocket::Written);
}

ClientSocket::~ClientSocket() {
    Close();
}

bool ClientSocket::IsOpen() const {
    return stream && !HasFailed();
}

Result<> ClientSocket::Send(const QByteArray& bytes) {
    if (!IsOpen()) {
        return Result<>::Failure(tr("The mail client is not connected."));
    }
    if (!stream->Write(bytes)) {
        return Result<>::Failure(ErrorText());
    }
    return {};
}

QByteArray ClientSocket::Take() {
    return stream ? stream->TakeAll() : QByteArray();
}

qint64 ClientSocket::BytesAvailable() const {
    return stream ? stream->BytesAvailable() : 0;
}

qint64 ClientSocket::BytesToWrite() const {
    return stream ? stream->BytesToWrite() : 0;
}

bool ClientSocket::Delivering() const {
    return stream && (stream->BytesToWrite() > 0 || KernelHoldsUnsent(stream->Descriptor()));
}

void ClientSocket::FinishSending() {
    if (stream) {
        stream->FinishSending();
    }
}

void ClientSocket::Close() {
    if (!stream) {
        return;
    }
    StreamSocket* leaving = std::exchange(stream, nullptr);
    leaving->disconnect(this);
    leaving->CloseWhenDone(CloseLingerMs);
    DropReports();
}

QHostAddress ClientSocket::PeerAddress() const {
    return stream ? stream->PeerAddress() : QHostAddress();
}

void ClientSocket::HandOver() {
    if (!stream) {
        return;
    }
    stream->StopReading();
    disconnect(stream, &StreamSocket::ReadyRead, this, nullptr);
    disconnect(stream, &StreamSocket::PeerFinishedSending, this, nullptr);
    connect(stream, &StreamSocket::BytesWritten, this, [this](qint64 pending) {
        if (pending == 0) {
            ReleaseDescriptor();
        }
    });
    // From the event loop, never from inside the caller's own step.
    if (stream->BytesToWrite() == 0) {
        QMetaObject::invokeMethod(this, &ClientSocket::ReleaseDescriptor, Qt::QueuedConnection);
    }
}

void ClientSocket::ReleaseDescriptor() {
    if (!stream || stream->BytesToWrite() > 0) {
        return;
    }
    StreamSocket* leaving = std::exchange(stream, nullptr);
    leaving->disconnect(this);
    const int descriptor = leaving->ReleaseDescriptor();
    leaving->deleteLater();
    DropReports();
    Q_EMIT HandedOver(descriptor);
}

quint16 ClientSocket::LocalPort() const {
    return stream ? stream->LocalPort() : 0;
}

void ClientSocket::OnWriteFailed() {
    ReportFailure(tr("The peer has gone; nothing more can reach it."));
}
