#pragma once

#include "platform/SocketEndpoint.h"
#include "relay/RelaySession.h"
#include "relay/RelayState.h"
#include "relay/RelayView.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

// The proxy's front: listens for mail clients from start-up to the end of the program and gives
// each client its own conversation (RelaySession) with its own connection to the mail server.
// A client beyond the limit is told so and let go; the others are not disturbed.
class Relay : public QObject {
    Q_OBJECT

public:
    struct Options {
        quint16 serverPort = PlainPop3Port;
        quint16 listenPort = PlainPop3Port;
        QHostAddress listenAddress = QHostAddress::Any;
        int maxClients = DefaultMaxClients;
        int idleTimeoutMs = DefaultIdleTimeoutMs;
    };

    static constexpr int DefaultMaxClients = 10;

    enum class ConsoleResult {
        Sent,
        ServerConnectStarted, // row 0 while the server was not connected: nothing sent
        ClientNotConnected,   // row 1 while no client was connected: nothing sent
    };

    static constexpr qint64 FlowHighWater = RelaySession::FlowHighWater;
    static constexpr qint64 FlowLowWater = RelaySession::FlowLowWater;

    Relay(RelayView& view, const Options& options, QObject* parent = nullptr);
    ~Relay() override;

    // Start-up's listening step; on failure the caller reports the reason and stops.
    SocketResult StartListening();

    // TLS toward the mail server for the conversations from now on; plain APOP by default.
    void SetServerTls(const ServerTlsSettings& settings) { serverTls = settings; }
    void SetServerPort(quint16 port) { options.serverPort = port; }
    quint16 ServerPort() const { return options.serverPort; }
    SecurityMode ServerSecurityMode() const { return serverTls.policy.mode; }

    // The manual console talks to the most recent client's conversation: row 0 sends to its
    // server, row 1 to the client; CR LF is added. Without any client, row 0 opens a server
    // connection of its own.
    ConsoleResult ConsoleSend(int index, const QByteArray& line);

    // The quit command: every connection closed, nothing sent, no more listening.
    void CloseAll();

    // Conversations going on now, the console's own server connection included.
    int SessionCount() const { return int(sessions.size()); }
    // The most recent conversation's state and sockets; while there is none, an empty state,
    // a closed server socket and the listener.
    const RelayState& LatestRelayState() const;
    SocketEndpoint& Winsock1();
    SocketEndpoint& Winsock2();

Q_SIGNALS:
    // The connection to the mail server failed; reason as the system gave it.
    void ServerConnectFailed(const QString& reason);
    // TLS to the mail server did not come about for a conversation; its client was told.
    void ServerTlsFailed(const TlsFailure& failure);
    // A conversation began or ended.
    void SessionsChanged(int sessions);

private:
    void Winsock2_ConnectionRequest(qint32 requestId);
    RelaySession* NewSession();
    void SessionFinished(RelaySession* session);
    int ClientSessions() const;
    int FreeNumber() const;
    void TellConsoleClient();

    RelayView& view;
    Options options;
    SocketEndpoint winsock2; // the listener
    SocketEndpoint noServer;
    RelayState noState;
    ServerTlsSettings serverTls;
    QList<RelaySession*> sessions; // in the order they began
};
