#pragma once

#include "platform/Connection.h"
#include "relay/AccountCheck.h"
#include "relay/Conversation.h"
#include "relay/DeferredLog.h"
#include "relay/SessionView.h"
#include "relay/UpstreamLink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

struct Settings;

// One mail client's conversation: its connection, its own link to the mail server and its own
// Conversation. It relays both directions block by block, turns USER/PASS into the login the
// link calls for and tags retrieved mail in a blocked character set. Nothing of it is shared
// with another client's conversation, and nothing of it outlives its client. The manual console
// may also open a conversation without a client.
//
// It ends once both sides are done: the server closing (after the client has been given
// everything the server sent), the client going away, or nothing moving in either direction for
// the idle timeout. A client that still has replies on their way to it is never idle.
class RelaySession : public QObject {
    Q_OBJECT

public:
    enum class State {
        AwaitingServer, // connecting, and until the greeting: the client's commands wait
        Relaying,       // greeted: both directions flow
        Draining,       // the server has gone: the client gets the rest, then is let go
        Ended,
    };

    // Above this many unsent bytes on one side, reading from the other side pauses.
    static constexpr qint64 FlowHighWater = 1024 * 1024;
    static constexpr qint64 FlowLowWater = 256 * 1024;
    // Above this many entries in the reply kind queue, the client's commands wait to be read:
    // each costs memory until its replies are through, and a client that pipelines without
    // reading would otherwise fill the server's and the kernel's buffers with commands.
    static constexpr qsizetype MostQueueEntries = 4096;
    // While something is on its way to the client, whether it still is gets looked at this often
    // once the idle timeout has run out.
    static constexpr int DeliveryCheckMs = 1000;

    // The settings are read where they are needed: the server at every connection, the
    // tagging's rules at every inspection. They are the runner's, so that the window's edits
    // reach a conversation going on, until KeepSettings.
    RelaySession(RelayView& window, const Settings& settings, std::function<int()> clientsServed,
                 int number, QObject* parent = nullptr);
    ~RelaySession() override;

    // The client has been accepted: show the window and connect upstream. A client that came
    // in on an account's own port goes to that account's server whatever name it gives;
    // otherwise the name of its login picks the account (the default one until then).
    void Start(std::unique_ptr<Connection> client, std::optional<int> portAccount = {});
    void ConnectServer();
    // Both connections closed at once, nothing sent.
    void End();
    // A line typed into the console for this client's server or for the client; CR LF is
    // added. False when that side is not connected (nothing sent).
    bool ConsoleToServer(const QByteArray& line);
    bool ConsoleToClient(const QByteArray& line);

    // The settings are about to change for the next clients: this conversation finishes with
    // these (a copy of those it read so far).
    void KeepSettings(std::shared_ptr<const Settings> inForce);

    int Number() const { return number; }
    bool HasClient() const { return client != nullptr; }
    State CurrentState() const { return state; }
    const LoginState& Login() const { return conversation.Login(); }
    QList<ReplyKind> ExpectedReplies() const { return conversation.ExpectedReplies(); }
    Connection& ServerSide() { return upstream.Socket(); }
    const UpstreamLink& Upstream() const { return upstream; }
    // Only while HasClient.
    Connection& ClientSide() { return *client; }
    // The login name of the account whose server this conversation talks to, by the settings
    // it goes by; empty for the default account.
    QString AccountLogin() const;

Q_SIGNALS:
    void ServerConnectFailed(const QString& host, quint16 port, const QString& reason);
    // Connected, but the server's greeting did not come; the client was told and let go.
    void ServerSentNoGreeting(const QString& host, quint16 port, const QString& reason);
    // TLS to the mail server did not come about (refused certificate, failed handshake, no
    // STLS); the client was told and let go, nothing of its login was sent.
    void ServerTlsFailed(const TlsFailure& failure);
    // The conversation talks to another account's server from now on.
    void ServerChanged();
    // A client's login went to a server, or could not: how its mail check went.
    void Checked(const AccountCheck& check);
    void Finished();

private:
    void AdoptClient(std::unique_ptr<Connection> accepted);
    void StartClientTls();
    void OnClientHandedOver(qintptr descriptor);
    void OnServerArrived();
    void OnGreeted(const QByteArray& greeting);
    void OnServerBlock(const QByteArray& block);
    void OnServerFailed(const LinkFailure& failure);
    void OnServerClosed();
    void OnClientArrived();
    void OnClientFinished();
    void OnClientFailed();
    void ConnectAccount(int index);
    void GreetByItself();
    void SwitchServerWhenDue();
    void AddServerLog(const QByteArray& lines);
    void FailedCheck(AccountCheck::Outcome outcome, const QString& reason);
    void ReportCheck();

    void SendToServer(const QByteArray& bytes);
    void SendToClient(const QByteArray& bytes);
    bool ClientReachable() const;
    void ReleaseWaitingClient(const QByteArray& reply);
    void Drain();
    void EndIfDrained();
    void Apply(const RelayOutput& out);
    void BalanceFlow();
    void ReleaseQuitIfDelivered();

    TaggingRulesSource TaggingRulesNow() const;
    void Touch();
    void CheckIdle();

    SessionView view;
    DeferredLog log;
    const Settings* settings;
    std::shared_ptr<const Settings> kept; // after KeepSettings
    int number;
    State state = State::AwaitingServer;
    Conversation conversation;
    UpstreamLink upstream;
    std::unique_ptr<Connection> client;
    bool clientLoopback = false;
    // After an accepted STLS, until the TLS connection has taken the client's descriptor: what
    // goes to the client waits here, as nothing more may go in clear.
    bool clientSwitching = false;
    QByteArray heldForTls;
    bool tlsMarkOwed = false;       // the client's next log line shows that it came in over TLS
    bool clientFinishWaits = false; // the client's end goes to the server behind its QUIT
    std::optional<int> portAccount; // came in on this account's own port
    int account = 0;                // whose server the conversation talks to
    int switchTo = -1;       // the login needs this account's server, once the replies are through
    bool regreeting = false; // the coming greeting is for the login, not for the client
    bool accountMarkOwed = false;            // the server log's next line names the account
    std::optional<AccountCheck> failedCheck; // the server could not be had
    QElapsedTimer lastActivity;
    QTimer idleTimer;
};
