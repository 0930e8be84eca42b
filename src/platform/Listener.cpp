#include "platform/Listener.h"

#include "platform/ClientSocket.h"

#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <unistd.h>

namespace {

// Hands each accepted descriptor over as it is, so the connection can become a ClientSocket.
class DescriptorServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(qintptr descriptor) override { incoming(descriptor); }
};

} // namespace

Listener::Listener(QObject* parent) : QObject(parent) {}

Listener::~Listener() = default;

QTcpServer* Listener::AddServer() {
    auto* server = new DescriptorServer(this);
    server->incoming = [this](qintptr descriptor) { OnIncoming(descriptor); };
    // QTcpServer stops accepting for good after an accept that failed for want of resources
    // (no descriptor left): the program would look up but serve nobody. It tries again a moment
    // later, when the conversations that ended may have given some back.
    connect(server, &QTcpServer::acceptError, this, [server] {
        QTimer::singleShot(AcceptRetryMs, server, [server] {
            if (server->isListening()) {
                server->resumeAccepting();
            }
        });
    });
    servers.append(server);
    return server;
}

Result<> Listener::Listen(const QList<QHostAddress>& addresses, quint16 wanted) {
    if (IsListening()) {
        return Result<>::Failure(tr("Already listening on port %1.").arg(port));
    }
    quint16 chosen = wanted != 0 ? wanted : port;
    for (const QHostAddress& address : addresses) {
        QTcpServer* server = AddServer();
        if (!server->listen(address, chosen)) {
            // An address this machine does not have (::1 without IPv6) nobody else can take.
            if (address != addresses.first() &&
                server->serverError() == QAbstractSocket::SocketAddressNotAvailableError) {
                servers.removeOne(server);
                delete server;
                continue;
            }
            const QString why = server->errorString();
            Close();
            return Result<>::Failure(why);
        }
        // The next address gets the port the system chose for the first.
        chosen = server->serverPort();
    }
    port = chosen;
    return {};
}

// It may be called while one of them announces a client.
void Listener::Close() {
    for (QTcpServer* server : std::exchange(servers, {})) {
        server->close();
        server->deleteLater();
    }
}

QList<QHostAddress> Listener::Addresses() const {
    QList<QHostAddress> held;
    for (const QTcpServer* server : servers) {
        held.append(server->serverAddress());
    }
    return held;
}

bool Listener::IsListening() const {
    return !servers.isEmpty();
}

std::unique_ptr<ClientSocket> Listener::Accept() {
    const qintptr descriptor = TakeDescriptor();
    return descriptor < 0 ? nullptr : std::make_unique<ClientSocket>(descriptor);
}

void Listener::OnIncoming(qintptr descriptor) {
    announced = descriptor;
    Q_EMIT Incoming();
    // A client nobody took is refused, as by a listener that was not asked to take it.
    if (announced >= 0) {
        ::close(int(std::exchange(announced, -1)));
    }
}
