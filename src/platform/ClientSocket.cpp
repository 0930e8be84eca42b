#include "platform/ClientSocket.h"

#include "platform/StreamSocket.h"

ClientSocket::ClientSocket(qintptr descriptor, QObject* parent)
    : Connection(parent), stream(new StreamSocket(descriptor, ReadBufferLimit, this)) {
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

bool ClientSocket::MoreToRead() const {
    return stream && (stream->BytesAvailable() > 0 || KernelHoldsBytes(stream->Descriptor()));
}

qint64 ClientSocket::BytesToWrite() const {
    return stream ? stream->BytesToWrite() : 0;
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

quint16 ClientSocket::LocalPort() const {
    return stream ? stream->LocalPort() : 0;
}

void ClientSocket::OnWriteFailed() {
    ReportFailure(tr("The peer has gone; nothing more can reach it."));
}
