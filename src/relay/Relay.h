#pragma once

#include "platform/SocketEndpoint.h"
#include "relay/RelayState.h"
#include "relay/RelayTls.h"
#include "relay/RelayView.h"

#include <QHostAddress>
#include <QObject>

struct ClientStep;

// The proxy between one mail client (Winsock2) and the mail server (Winsock1): accepts the
// client, connects upstream, relays both directions block by block, turns USER/PASS into an
// APOP login and tags retrieved mail in a blocked character set.
class Relay : public QObject {
    Q_OBJECT

public:
    struct Options {
        quint16 serverPort = 110;
        quint16 listenPort = 110;
        QHostAddress listenAddress = QHostAddress::Any;
    };

    enum class ConsoleResult {
        Sent,
        ServerConnectStarted, // row 0 while the server was not connected: nothing sent
        ClientNotConnected,   // row 1 while no client was connected: nothing sent
    };

    // Above this many unsent bytes on one side, reading from the other side pauses.
    static constexpr qint64 FlowHighWater = 1024 * 1024;
    static constexpr qint64 FlowLowWater = 256 * 1024;

    Relay(RelayView& view, const Options& options, QObject* parent = nullptr);

    // Start-up's listening step; on failure the caller reports the reason and stops.
    SocketResult StartListening();

    void ConnectServer();

    // TLS toward the mail server for the connections from now on; plain APOP by default.
    void SetServerTls(const ServerTlsSettings& settings);
    void SetServerPort(quint16 port) { options.serverPort = port; }
    quint16 ServerPort() const { return options.serverPort; }
    SecurityMode ServerSecurityMode() const { return serverTls.policy.mode; }

    // The manual console: row 0 sends to the server, row 1 to the client; CR LF is added.
    ConsoleResult ConsoleSend(int index, const QByteArray& line);

    // The quit command: both sockets closed, nothing sent.
    void CloseAll();

    const RelayState& State() const { return state; }
    SocketEndpoint& Winsock1() { return winsock1; }
    SocketEndpoint& Winsock2() { return winsock2; }

    // Replies the relay gives the client itself when the mail server is out of reach.
    static const QByteArray ServerNotConnectedReply;
    static const QByteArray CannotConnectReply;

Q_SIGNALS:
    // The connection to the mail server failed; reason as the system gave it.
    void ServerConnectFailed(const QString& reason);
    // Listening again after a client left failed: no further client can connect.
    void ListenFailed(const QString& reason);
    // TLS to the mail server did not come about (refused certificate, failed handshake, no
    // STLS); the client was told and let go, nothing of its login was sent.
    void ServerTlsFailed(const TlsFailure& failure);

private:
    void Winsock2_ConnectionRequest(qint32 requestId);
    void Winsock1_Close();
    void Winsock2_Close();
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock2_DataArrival(qint32 bytesTotal);
    void Winsock1_Error();

    void SendToServer(const QByteArray& bytes);
    void SendToClient(const QByteArray& bytes);
    void ClientLeft();
    void ReleaseWaitingClient();
    void BalanceFlow();

    // TLS steps, in RelayTls.cpp.
    void Tls_PrepareConnect(const QString& host);
    bool Tls_ServerBlock(QByteArray& block); // true: nothing left for the normal path
    void Tls_LoginStep(ClientStep& step);
    void Tls_Encrypted();
    bool Tls_HoldsClient() const;
    void Tls_Failed(const QString& reason, const QSslCertificate& certificate);

    RelayView& view;
    Options options;
    RelayState state;
    SocketEndpoint winsock1;
    SocketEndpoint winsock2;
    ServerTlsSettings serverTls;
    TlsSession tls;
};
