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

Listener::Listener(QObject* parent) : QObject(parent) {
    auto* created = new DescriptorServer(this);
    created->incoming = [this](qintptr descriptor) { OnIncoming(descriptor); };
    server = created;
    // QTcpServer stops accepting for good after an accept that failed for want of resources
    // (no descriptor left): the program would look up but serve nobody. It tries again a moment
    // later, when the conversations that ended may have given some back.
    connect(server, &QTcpServer::acceptError, this, [this] {
        QTimer::singleShot(AcceptRetryMs, server, [this] {
            if (server->isListening()) {
                server->resumeAccepting();
            }
        });
    });
}

Listener::~Listener() = default;

Result<> Listener::Listen(const QHostAddress& address, quint16 wanted) {
    if (server->isListening()) {
        return Result<>::Failure(tr("Already listening on port %1.").arg(port));
    }
    if (!server->listen(address, wanted != 0 ? wanted : port)) {
        const QString why = server->errorString();
        server->close();
        return Result<>::Failure(why);
    }
    port = server->serverPort();
    return {};
}

void Listener::Close() {
    server->close();
}

bool Listener::IsListening() const {
    return server->isListening();
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
