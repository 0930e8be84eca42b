#include "platform/StreamSocket.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;
} // namespace

StreamSocket::StreamSocket(qintptr descriptor, qint64 limit, QObject* parent)
    : QObject(parent), fd(int(descriptor)), readLimit(limit),
      writeQueue(
          int(descriptor),
          [this](const char* data, qint64 size) {
              return qint64(::send(fd, data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT));
          },
          WriteQueue::Hooks{{},
                            [this] { ShutDownIfDrained(); },
                            [this](int) { Fail(); },
                            [this](bool wrote) { OnWritable(wrote); }}) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Short replies must not wait for delayed ACKs, as on the server side.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &StreamSocket::OnReadable);
    lingerTimer.setSingleShot(true);
    connect(&lingerTimer, &QTimer::timeout, this, &StreamSocket::CloseNow);
}

StreamSocket::~StreamSocket() {
    if (fd >= 0) {
        delete readNotifier;
        writeQueue.ReleaseDescriptor();
        ::close(fd);
    }
}

QByteArray StreamSocket::TakeAll() {
    QByteArray taken = std::exchange(readBuffer, QByteArray());
    if (!peerFinished && !closing && !readingStopped && fd >= 0) {
        readNotifier->setEnabled(true);
    }
    return taken;
}

bool StreamSocket::Write(const QByteArray& data) {
    if (broken || fd < 0) {
        return false;
    }
    writeQueue.Append(data);
    return !broken;
}

quint16 StreamSocket::LocalPort() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

QHostAddress StreamSocket::PeerAddress() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

void StreamSocket::StopReading() {
    readingStopped = true;
    readBuffer.clear();
    if (fd >= 0) {
        readNotifier->setEnabled(false);
    }
}

int StreamSocket::ReleaseDescriptor() {
    if (fd >= 0) {
        lingerTimer.stop();
        readNotifier->setEnabled(false);
        writeQueue.ReleaseDescriptor();
    }
    return std::exchange(fd, -1);
}

void StreamSocket::FinishSending() {
    finishOwed = true;
    ShutDownIfDrained();
}

void StreamSocket::CloseWhenDone(int lingerMs) {
    if (closing) {
        return;
    }
    closing = true;
    finishOwed = true;
    setParent(nullptr);
    disconnect(this, nullptr, nullptr, nullptr);
    readBuffer.clear();
    if (broken || fd < 0) {
        CloseNow();
        return;
    }
    lingerTimer.start(lingerMs);
    if (!peerFinished) {
        readNotifier->setEnabled(true);
    }
    ShutDownIfDrained();
}

void StreamSocket::OnReadable() {
    if (closing) {
        // Only waiting for the peer's EOF: what it still sends has nowhere to go.
        char scratch[4096];
        for (;;) {
            const ssize_t got = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (got > 0) {
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                return;
            }
            peerFinished = true;
            readNotifier->setEnabled(false);
            if (sendingFinished || writeQueue.Pending() == 0 || got < 0) {
                CloseNow();
            }
            return;
        }
    }
    bool gotData = false;
    bool finished = false;
    bool reset = false;
    while (readBuffer.size() < readLimit) {
        const qsizetype before = readBuffer.size();
        const qsizetype room = qsizetype(qMin(ReadChunk, readLimit - before));
        readBuffer.resize(before + room);
        const ssize_t got = ::recv(fd, readBuffer.data() + before, size_t(room), MSG_DONTWAIT);
        readBuffer.resize(before + qMax<qsizetype>(got, 0));
        if (got > 0) {
            gotData = true;
            continue;
        }
        if (got == 0) {
            finished = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            finished = true;
            reset = true;
        }
        break;
    }
    if (finished || readBuffer.size() >= readLimit) {
        readNotifier->setEnabled(false);
    }
    if (finished) {
        peerFinished = true;
    }
    if (reset) {
        // A reset peer takes nothing more either.
        broken = true;
        writeQueue.Discard();
    }
    const QPointer<StreamSocket> alive(this);
    if (gotData) {
        Q_EMIT ReadyRead();
        if (!alive || closing) {
            return;
        }
    }
    if (finished) {
        Q_EMIT PeerFinishedSending();
        if (!alive || closing) {
            return;
        }
    }
    if (reset) {
        Q_EMIT WriteFailed();
    }
}

void StreamSocket::OnWritable(bool wrote) {
    if (!closing && !broken && wrote) {
        Q_EMIT BytesWritten(writeQueue.Pending());
    }
}

void StreamSocket::ShutDownIfDrained() {
    if (!finishOwed || writeQueue.Pending() > 0 || fd < 0) {
        return;
    }
    if (!sendingFinished) {
        sendingFinished = true;
        ::shutdown(fd, SHUT_WR);
    }
    if (closing && (peerFinished || broken)) {
        CloseNow();
    }
}

void StreamSocket::Fail() {
    broken = true;
    writeQueue.Discard();
    if (closing) {
        CloseNow();
        return;
    }
    Q_EMIT WriteFailed();
}

void StreamSocket::CloseNow() {
    if (fd < 0) {
        return;
    }
    lingerTimer.stop();
    readNotifier->setEnabled(false);
    writeQueue.ReleaseDescriptor();
    ::close(fd);
    fd = -1;
    if (closing) {
        deleteLater();
    }
}
