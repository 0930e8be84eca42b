#pragma once

#include "platform/Listener.h"
#include "platform/Result.h"
#include "relay/RelaySession.h"
#include "relay/RelayView.h"
#include "settings/ListenSetting.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

struct Settings;

// The proxy's front: listens for mail clients from start-up to the end of the program and gives
// each client its own conversation (RelaySession) with its own connection to the mail server.
// A client beyond the limit is told so and let go; the others are not disturbed. It reads the
// settings where they are needed and changes none of them.
class Relay : public QObject {
    Q_OBJECT

public:
    enum class ConsoleResult {
        Sent,
        ServerConnectStarted, // row 0 while the server was not connected: nothing sent
        ClientNotConnected,   // row 1 while no client was connected: nothing sent
    };

    static constexpr qint64 FlowHighWater = RelaySession::FlowHighWater;
    static constexpr qint64 FlowLowWater = RelaySession::FlowLowWater;

    Relay(RelayView& view, const Settings& settings, QObject* parent = nullptr);
    ~Relay() override;

    // Start-up's listening steps, on the settings' address: the port for plain POP3 (and STLS),
    // then the port for TLS from the first byte where one is set and client TLS is ready (a
    // success that listens nowhere otherwise). On failure the caller reports the reason, with
    // the port, and stops.
    Result<> StartListening();
    Result<> StartImplicitTlsListening();
    // Then each account's own port, where one is set; again whenever the accounts changed (a
    // port no account has any more is let go). `failedPort` names a port that failed; the
    // others listen all the same.
    Result<> StartAccountListening(quint16& failedPort);
    // All of start-up's listening above, in that order: the port that could not be had and why,
    // or nothing when every one listens.
    struct StartFailure {
        quint16 port = 0;
        QString reason;
    };
    std::optional<StartFailure> StartAllListening();
    bool Listening() const { return listener->IsListening(); }
    quint16 ListeningPort() const { return listener->Port(); }
    QList<QHostAddress> ListeningAddresses() const { return listener->Addresses(); }
    bool ListeningForTls() const { return tlsListener->IsListening(); }
    quint16 TlsListeningPort() const { return tlsListener->Port(); }

    // The settings are about to change to `next`: where to listen from now on, for plain POP3
    // and for TLS from the first byte. Each new address and port is held before the old one is
    // let go (where both are one port, the old one has to go first, and comes back when the new
    // one cannot be had); a listener that cannot move listens where it did, and tells why.
    struct ListenFailure {
        bool implicitTls = false;
        quint16 wanted = 0;
        quint16 kept = 0;
        QString reason;
    };
    QList<ListenFailure> ListenAgain(const Settings& next);
    // The settings are about to change: every conversation going on finishes with those it
    // started with, the next clients get the new ones.
    void KeepSettingsForSessions();
    // The port an account listens on now, by its index; 0 where it has none.
    quint16 AccountListeningPort(int account) const;

    // The manual console talks to the most recent client's conversation: row 0 sends to its
    // server, row 1 to the client; CR LF is added. Without any client, row 0 opens a server
    // connection of its own.
    ConsoleResult ConsoleSend(int index, const QByteArray& line);

    // After the last of conversations that ended one after another, memory they freed goes back
    // to the system; one trim for a burst of endings rather than one each.
    static constexpr int MemoryReturnDelayMs = 1000;

    // The quit command: every connection closed, nothing sent, no more listening.
    void CloseAll();

    // Conversations going on now, the console's own server connection included.
    int SessionCount() const { return int(sessions.size()); }
    // The most recent conversation; null while there is none.
    RelaySession* LatestSession() const { return sessions.isEmpty() ? nullptr : sessions.last(); }

Q_SIGNALS:
    // The connection to the mail server failed; reason as the system gave it.
    void ServerConnectFailed(const QString& host, quint16 port, const QString& reason);
    // Connected to the mail server, but its greeting did not come; the client was told.
    void ServerSentNoGreeting(const QString& host, quint16 port, const QString& reason);
    // TLS to the mail server did not come about for a conversation; its client was told.
    void ServerTlsFailed(const TlsFailure& failure);
    // A conversation began or ended.
    void SessionsChanged(int sessions);
    // A client's mail check at an account's server is over.
    void AccountChecked(const AccountCheck& check);

private:
    void OnIncomingClient(Listener& from);
    std::unique_ptr<Connection> Accept(Listener& from);
    std::unique_ptr<Listener> NewListener();
    Result<> Move(std::unique_ptr<Listener>& slot, const std::optional<ListenSetting>& now,
                  const std::optional<ListenSetting>& wanted);
    RelaySession* NewSession();
    void SessionFinished(RelaySession* session);
    int ClientSessions() const;
    int FreeNumber() const;
    void TellConsoleClient();

    RelayView& view;
    const Settings& settings;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<Listener> tlsListener; // TLS from the first byte
    struct AccountListener {
        int account;
        std::unique_ptr<Listener> listener;
    };
    std::vector<AccountListener> accountListeners;
    QList<RelaySession*> sessions; // in the order they began
    QTimer memoryReturn;           // once conversations have ended and nothing else for a while
};
