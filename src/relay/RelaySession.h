#pragma once

#include "platform/Pop3Ports.h"
#include "platform/SocketEndpoint.h"
#include "relay/Conversation.h"
#include "relay/RelayState.h"
#include "relay/RelayTls.h"
#include "relay/SessionView.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// RFC 1939 asks for at least ten minutes before an idle client is logged out.
inline constexpr int DefaultIdleTimeoutMs = 600 * 1000;

// One mail client's conversation: its connection (Winsock2), its own connection to the mail
// server (Winsock1) and its own RelayState. It relays both directions block by block, turns
// USER/PASS into an APOP login and tags retrieved mail in a blocked character set. Nothing of it
// is shared with another client's conversation, and nothing of it outlives its client.
//
// It ends once both sides are done: the server closing (after the client has been given
// everything the server sent), the client going away, or nothing moving for the idle timeout.
class RelaySession : public QObject {
    Q_OBJECT

public:
    struct Options {
        quint16 serverPort = PlainPop3Port;
        int idleTimeoutMs = DefaultIdleTimeoutMs;
        ServerTlsSettings tls; // plain APOP unless it says otherwise
    };

    // Above this many unsent bytes on one side, reading from the other side pauses.
    static constexpr qint64 FlowHighWater = 1024 * 1024;
    static constexpr qint64 FlowLowWater = 256 * 1024;

    RelaySession(RelayView& window, std::function<int()> clientsServed, int number,
                 const Options& options, QObject* parent = nullptr);

    // The client has been accepted on Winsock2: show the window and connect upstream.
    void Start();
    void ConnectServer();
    // Both connections closed at once, nothing sent.
    void End();
    void BalanceFlow();
    // A line typed into the console for this client's server; CR LF is added.
    void ConsoleToServer(const QByteArray& line);

    int Number() const { return number; }
    bool HasClient() const { return hadClient; }
    bool Ended() const { return ended; }
    const RelayState& State() const { return state; }
    SocketEndpoint& Winsock1() { return winsock1; }
    SocketEndpoint& Winsock2() { return winsock2; }

    // Replies the relay gives the client itself when the mail server is out of reach.

Q_SIGNALS:
    void ServerConnectFailed(const QString& reason);
    // TLS to the mail server did not come about (refused certificate, failed handshake, no
    // STLS); the client was told and let go, nothing of its login was sent.
    void ServerTlsFailed(const TlsFailure& failure);
    void Finished();

private:
    void Winsock1_Close();
    void Winsock2_Close();
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock2_DataArrival(qint32 bytesTotal);
    void Winsock1_Error();
    void Winsock2_Error();

    void SendToServer(const QByteArray& bytes);
    void SendToClient(const QByteArray& bytes);
    void ClientLeft();
    void ReleaseWaitingClient();
    void FinishClient();
    void FinishClientIfDrained();
    void Apply(const RelayOutput& out);

    // TLS steps, in RelayTls.cpp.
    void Tls_PrepareConnect(const QString& host);
    bool Tls_ServerBlock(const QByteArray& block); // true: the STLS exchange took it
    void Tls_Encrypted();
    void Tls_Failed(const QString& reason, const QSslCertificate& certificate);

    TaggingRulesSource TaggingRulesNow() const;
    void Touch();
    void CheckIdle();

    SessionView view;
    Options options;
    int number;
    RelayState state;
    Conversation conversation;
    TlsSession tls;
    SocketEndpoint winsock1;
    SocketEndpoint winsock2;
    bool hadClient = false;
    bool finishing = false;
    bool ended = false;
    QElapsedTimer lastActivity;
    QTimer idleTimer;
};
