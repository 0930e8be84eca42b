#include "relay/Relay.h"

#include "relay/RelayReplies.h"

#include <algorithm>

Relay::Relay(RelayView& relayView, const Options& relayOptions, QObject* parent)
    : QObject(parent), view(relayView), options(relayOptions) {
    connect(&winsock2, &SocketEndpoint::ConnectionRequest, this,
            &Relay::Winsock2_ConnectionRequest);
}

Relay::~Relay() {
    for (RelaySession* session : std::as_const(sessions)) {
        session->disconnect(this);
    }
}

SocketResult Relay::StartListening() {
    winsock2.SetLocalPort(options.listenPort);
    winsock2.SetLocalAddress(options.listenAddress);
    return winsock2.Listen();
}

void Relay::Winsock2_ConnectionRequest(qint32 requestId) {
    if (ClientSessions() >= options.maxClients) {
        SocketEndpoint refused;
        if (winsock2.AcceptInto(requestId, refused)) {
            refused.SendData(TooManyClientsReply(options.maxClients));
            refused.Close();
        }
        return;
    }
    // A server connection the console opened without a client gives way to the client, as
    // the client's own connection would have replaced it.
    for (RelaySession* session : QList<RelaySession*>(sessions)) {
        if (!session->HasClient()) {
            session->End();
        }
    }
    RelaySession* session = NewSession();
    if (!winsock2.AcceptInto(requestId, session->Winsock2())) {
        session->End();
        return;
    }
    session->Start();
}

RelaySession* Relay::NewSession() {
    auto* session = new RelaySession(
        view, [this] { return SessionCount(); }, FreeNumber(),
        RelaySession::Options{options.serverPort, options.idleTimeoutMs, serverTls}, this);
    sessions.append(session);
    connect(session, &RelaySession::ServerConnectFailed, this, &Relay::ServerConnectFailed);
    connect(session, &RelaySession::ServerTlsFailed, this, &Relay::ServerTlsFailed);
    connect(session, &RelaySession::Finished, this, [this, session] { SessionFinished(session); });
    TellConsoleClient();
    Q_EMIT SessionsChanged(SessionCount());
    return session;
}

void Relay::SessionFinished(RelaySession* session) {
    sessions.removeOne(session);
    session->deleteLater();
    if (session->HasClient() && ClientSessions() == 0) {
        view.HideWindow();
        view.TraySetImage(TrayPicture::Idle);
    }
    TellConsoleClient();
    Q_EMIT SessionsChanged(SessionCount());
}

int Relay::ClientSessions() const {
    return int(std::count_if(sessions.cbegin(), sessions.cend(),
                             [](const RelaySession* session) { return session->HasClient(); }));
}

// The smallest number no conversation going on has: numbers stay short in the logs.
int Relay::FreeNumber() const {
    for (int number = 1;; ++number) {
        if (std::none_of(sessions.cbegin(), sessions.cend(),
                         [number](const RelaySession* s) { return s->Number() == number; })) {
            return number;
        }
    }
}

void Relay::TellConsoleClient() {
    view.ConsoleClient(sessions.size() > 1 ? sessions.last()->Number() : 0);
}

const RelayState& Relay::LatestRelayState() const {
    return sessions.isEmpty() ? noState : sessions.last()->State();
}

SocketEndpoint& Relay::Winsock1() {
    return sessions.isEmpty() ? noServer : sessions.last()->Winsock1();
}

SocketEndpoint& Relay::Winsock2() {
    return sessions.isEmpty() ? winsock2 : sessions.last()->Winsock2();
}

Relay::ConsoleResult Relay::ConsoleSend(int index, const QByteArray& line) {
    if (sessions.isEmpty()) {
        if (index == 0) {
            NewSession()->ConnectServer();
            return ConsoleResult::ServerConnectStarted;
        }
        return ConsoleResult::ClientNotConnected;
    }
    RelaySession* latest = sessions.last();
    SocketEndpoint& target = index == 0 ? latest->Winsock1() : latest->Winsock2();
    if (target.State() != SocketEndpoint::Connected) {
        if (index == 0) {
            latest->ConnectServer();
            return ConsoleResult::ServerConnectStarted;
        }
        return ConsoleResult::ClientNotConnected;
    }
    if (index == 0) {
        latest->ConsoleToServer(line);
    } else {
        target.SendData(line + "\r\n");
        latest->BalanceFlow();
    }
    return ConsoleResult::Sent;
}

void Relay::CloseAll() {
    for (RelaySession* session : QList<RelaySession*>(sessions)) {
        session->End();
    }
    if (winsock2.State() != SocketEndpoint::Closed) {
        winsock2.Close();
    }
}
