#include "relay/RelaySession.h"

#include "platform/ClientSocket.h"
#include "platform/TlsClientSocket.h"
#include "relay/LoopbackPeer.h"
#include "relay/RelayReplies.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSysInfo>

namespace {
// Before the client log's first line from a client inside TLS.
constexpr QByteArrayView ClientTlsMark = "[TLS] ";
constexpr QByteArrayView ClientTlsFailedNote = "Quorlin: no TLS with the mail client: ";

// RFC 1939's form, unique to this greeting; no server ever sees it.
QByteArray OwnStamp() {
    static int greeted = 0;
    return '<' + QByteArray::number(QCoreApplication::applicationPid()) + '.' +
           QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '.' +
           QByteArray::number(++greeted) + '@' + QSysInfo::machineHostName().toUtf8() + '>';
}
} // namespace

RelaySession::RelaySession(RelayView& window, const Settings& relaySettings,
                           std::function<int()> clientsServed, int clientNumber, QObject* parent)
    : QObject(parent), view(window, std::move(clientsServed), clientNumber), log(view),
      settings(&relaySettings), number(clientNumber) {
    connect(&upstream, &UpstreamLink::Arrived, this, &RelaySession::OnServerArrived);
    connect(&upstream, &UpstreamLink::Logged, this, [this](const QByteArray& lines) {
        AddServerLog(lines);
        log.Settle(conversation.ReplyUnderway());
    });
    connect(&upstream, &UpstreamLink::Greeted, this, &RelaySession::OnGreeted);
    connect(&upstream, &UpstreamLink::Block, this, &RelaySession::OnServerBlock);
    connect(&upstream, &UpstreamLink::Failed, this, &RelaySession::OnServerFailed);
    connect(&upstream, &UpstreamLink::Closed, this, &RelaySession::OnServerClosed);
    connect(&upstream.Socket(), &Connection::Written, this, [this] {
        BalanceFlow();
        Touch();
    });
    idleTimer.setSingleShot(true);
    connect(&idleTimer, &QTimer::timeout, this, &RelaySession::CheckIdle);
    Touch();
    idleTimer.start(settings->idleTimeoutMs);
}

RelaySession::~RelaySession() = default;

void RelaySession::Start(std::unique_ptr<Connection> accepted, std::optional<int> onPortOf) {
    portAccount = onPortOf;
    clientLoopback = IsLoopbackPeer(accepted->PeerAddress());
    AdoptClient(std::move(accepted));
    view.ShowWindow();
    ConnectServer();
}

void RelaySession::AdoptClient(std::unique_ptr<Connection> accepted) {
    client = std::move(accepted);
    if (auto* secure = qobject_cast<TlsClientSocket*>(client.get())) {
        connect(secure, &TlsClientSocket::Encrypted, this, [this] { tlsMarkOwed = true; });
    }
    connect(client.get(), &Connection::Arrived, this, &RelaySession::OnClientArrived);
    connect(client.get(), &Connection::PeerFinishedSending, this, &RelaySession::OnClientFinished);
    // Queued: a write to a client that has gone fails inside Send; the handler must not run there.
    connect(client.get(), &Connection::Failed, this, &RelaySession::OnClientFailed,
            Qt::QueuedConnection);
    connect(client.get(), &Connection::Written, this, [this] {
        BalanceFlow();
        ReleaseQuitIfDelivered();
        EndIfDrained();
        Touch();
    });
}

// The STLS reply is out in clear; the TLS connection takes the descriptor once it has gone.
void RelaySession::StartClientTls() {
    auto* plain = qobject_cast<ClientSocket*>(client.get());
    // STLS is taken only on a plain connection and with a certificate; anything else would be
    // no TLS where the client was told there would be.
    if (!plain || settings->clientIdentity.IsNull()) {
        End();
        return;
    }
    clientSwitching = true;
    connect(plain, &ClientSocket::HandedOver, this, &RelaySession::OnClientHandedOver);
    plain->HandOver();
}

void RelaySession::OnClientHandedOver(qintptr descriptor) {
    // Called from the plain connection's own signal: it goes once that is over.
    client->disconnect(this);
    client.release()->deleteLater();
    AdoptClient(std::make_unique<TlsClientSocket>(descriptor, settings->clientIdentity));
    clientSwitching = false;
    conversation.ClientTlsStarted();
    if (!heldForTls.isEmpty()) {
        SendToClient(std::exchange(heldForTls, {}));
    }
    BalanceFlow();
}

// The client gets a fresh connection and a fresh greeting for its APOP stamp; whatever is left
// of an earlier server connection goes.
void RelaySession::ConnectServer() {
    log.Flush();
    view.ClearServerLog();
    view.ClearClientLog();
    conversation.Reset();
    switchTo = -1;
    regreeting = false;
    const int first = portAccount.value_or(0);
    AccountRouter router;
    if (settings->HasAccounts() && !portAccount) {
        router = [this](QByteArrayView user) {
            return settings->AccountFor(QString::fromUtf8(user));
        };
    }
    // Accounts and no default server: the login name alone says where to go.
    const bool ownGreeting = router && settings->accounts.value(first).host.isEmpty();
    conversation.SetRouting(router, ownGreeting ? std::nullopt : std::optional<int>(first));
    if (ownGreeting) {
        GreetByItself();
        return;
    }
    ConnectAccount(first);
    if (state == State::Relaying) {
        state = State::AwaitingServer;
    }
    BalanceFlow();
}

void RelaySession::ConnectAccount(int index) {
    // An account removed since this client came in on its port: the default server.
    account = index < settings->accounts.size() ? index : 0;
    const Account& server = settings->accounts.at(account);
    TlsPolicy policy;
    policy.mode = server.security;
    policy.extraAuthorities = server.caCertificates;
    policy.pinnedFingerprints = server.pinnedFingerprints + settings->TrustedFor(server.host);
    accountMarkOwed = account > 0;
    upstream.Connect({server.host, server.port, policy, settings->serverStepTimeoutMs});
    conversation.SetLoginInsideTls(upstream.LoginInsideTls());
    conversation.SetServerUser(server.serverUser.toUtf8());
    Q_EMIT ServerChanged();
}

QString RelaySession::AccountLogin() const {
    return settings->accounts.value(account).login;
}

void RelaySession::GreetByItself() {
    upstream.Close();
    account = 0;
    state = State::Relaying;
    Apply(conversation.Greeted(OwnGreeting(OwnStamp())));
    BalanceFlow();
}

// The login needs another server than the one connected: once the replies asked of this one
// are through, it goes, and the account's server greets the conversation instead, unseen by the
// client, whose lines wait for it.
void RelaySession::SwitchServerWhenDue() {
    if (switchTo < 0 || conversation.AwaitsServer() || state == State::Ended) {
        return;
    }
    const int next = std::exchange(switchTo, -1);
    if (settings->accounts.value(next).host.isEmpty()) {
        // A name no account claims, and no default server: nowhere to log in.
        upstream.Close();
        account = next;
        Apply(conversation.Rerouted(OwnGreeting(OwnStamp())));
        return;
    }
    regreeting = true;
    state = State::AwaitingServer;
    ConnectAccount(next);
    BalanceFlow();
}

void RelaySession::OnServerArrived() {
    view.ShowTrayPicture(TrayPicture::ServerData);
    Touch();
}

void RelaySession::OnGreeted(const QByteArray& greeting) {
    if (state == State::AwaitingServer) {
        state = State::Relaying;
    }
    Apply(std::exchange(regreeting, false) ? conversation.Rerouted(greeting)
                                           : conversation.Greeted(greeting));
    BalanceFlow();
}

void RelaySession::OnServerBlock(const QByteArray& block) {
    Apply(conversation.FromServer(block, TaggingRulesNow()));
}

// The server has ended the conversation, so the client's connection ends too, once everything
// the server sent has reached it.
void RelaySession::OnServerClosed() {
    Apply(conversation.ServerClosed(TaggingRulesNow()));
    if (switchTo >= 0) {
        // Gone before the login: the account's server is what the client needs now.
        SwitchServerWhenDue();
        return;
    }
    Drain();
    BalanceFlow();
}

// A client waiting for the greeting is told why none comes, in the words of the step that failed.
void RelaySession::OnServerFailed(const LinkFailure& failure) {
    FailedCheck(failure.kind == LinkFailure::Kind::Tls ? AccountCheck::Outcome::NoTls
                                                       : AccountCheck::Outcome::NoConnection,
                failure.reason);
    switch (failure.kind) {
    case LinkFailure::Kind::Tls:
        Q_EMIT ServerTlsFailed(failure.AsTlsFailure());
        ReleaseWaitingClient(TlsRefusalReply(failure.reason));
        return;
    case LinkFailure::Kind::Greeting:
        Q_EMIT ServerSentNoGreeting(failure.host, failure.port, failure.reason);
        ReleaseWaitingClient(NoGreetingReply(failure.reason));
        return;
    case LinkFailure::Kind::Connect:
        break;
    }
    Q_EMIT ServerConnectFailed(failure.host, failure.port, failure.reason);
    Apply(conversation.ServerClosed(TaggingRulesNow()));
    if (state == State::Relaying && switchTo >= 0) {
        SwitchServerWhenDue();
    } else if (state == State::Relaying) {
        Drain();
    } else {
        ReleaseWaitingClient(CannotConnectReply(failure.reason));
    }
}

void RelaySession::OnClientArrived() {
    const QByteArray received = client->Take();
    if (!received.isEmpty()) {
        view.ShowTrayPicture(TrayPicture::ClientData);
        conversation.SetClientChannel({settings->clientTls.enabled, settings->ClientTlsReady(),
                                       client->IsEncrypted(), clientLoopback});
        Apply(conversation.FromClient(received, upstream.CanSend()));
    }
    Touch();
}

// The client has said all it will say. The server is told so once what the client sent has
// gone out; its answers still reach the client, and its close ends the session.
void RelaySession::OnClientFinished() {
    if (conversation.HoldsQuit()) {
        clientFinishWaits = true;
        return;
    }
    if (upstream.CanSend()) {
        upstream.FinishSending();
        return;
    }
    End();
}

// The client has gone entirely: nobody takes the replies, and the server connection goes
// without a QUIT, so the server deletes nothing.
void RelaySession::OnClientFailed() {
    // Most often the mail client does not trust the certificate: the user needs to know.
    if (client && !client->IsEncrypted() && qobject_cast<TlsClientSocket*>(client.get())) {
        log.AddClientLines(ClientTlsFailedNote.toByteArray() + client->ErrorText().toUtf8() +
                           "\r\n");
    }
    End();
}

// The client waits for a greeting that will never come: tell it and let it go.
void RelaySession::ReleaseWaitingClient(const QByteArray& reply) {
    if (ClientReachable()) {
        (void)client->Send(reply);
    }
    End();
}

void RelaySession::Drain() {
    if (state == State::Ended) {
        return;
    }
    state = State::Draining;
    EndIfDrained();
}

void RelaySession::EndIfDrained() {
    if (state == State::Draining && (!client || client->BytesToWrite() == 0)) {
        End();
    }
}

void RelaySession::End() {
    if (state == State::Ended) {
        return;
    }
    state = State::Ended;
    ReportCheck();
    log.Flush();
    idleTimer.stop();
    upstream.Close();
    if (client) {
        client->Close();
    }
    Q_EMIT Finished();
}

bool RelaySession::ConsoleToServer(const QByteArray& line) {
    if (!upstream.CanSend()) {
        return false;
    }
    (void)upstream.Send(line + "\r\n");
    Apply(conversation.ConsoleSentToServer(line));
    BalanceFlow();
    return true;
}

bool RelaySession::ConsoleToClient(const QByteArray& line) {
    if (!ClientReachable() || client->PeerFinished()) {
        return false;
    }
    SendToClient(line + "\r\n");
    BalanceFlow();
    return true;
}

void RelaySession::FailedCheck(AccountCheck::Outcome outcome, const QString& reason) {
    failedCheck.emplace();
    failedCheck->outcome = outcome;
    failedCheck->reason = reason;
}

// Only a client's check counts: the console's own connection checks nothing.
void RelaySession::ReportCheck() {
    const CheckTally& tally = conversation.Tally();
    if (!client || (!tally.loginAnswered && !failedCheck)) {
        return;
    }
    AccountCheck check = failedCheck.value_or(AccountCheck{});
    if (!failedCheck) {
        check.outcome =
            tally.loginAccepted ? AccountCheck::Outcome::Done : AccountCheck::Outcome::LoginRefused;
        check.retrieved = tally.retrieved;
        check.tagged = tally.tagged;
    }
    check.login = AccountLogin();
    check.when = QDateTime::currentDateTime();
    Q_EMIT Checked(check);
}

void RelaySession::Touch() {
    lastActivity.start();
}

// RFC 1939's autologout: a conversation where nothing has moved for the timeout is let go,
// client and server connection alike. Replies still on their way to the client move, however
// slowly it takes them, even where Quorlin has handed them all to the kernel and hears nothing
// more of them: then it looks again every DeliveryCheckMs.
void RelaySession::CheckIdle() {
    if (client && client->Delivering()) {
        Touch();
        idleTimer.start(qMin(settings->idleTimeoutMs, DeliveryCheckMs));
        return;
    }
    const qint64 idleFor = lastActivity.elapsed();
    if (idleFor < settings->idleTimeoutMs) {
        idleTimer.start(int(settings->idleTimeoutMs - idleFor));
        return;
    }
    End();
}

void RelaySession::KeepSettings(std::shared_ptr<const Settings> inForce) {
    if (kept) {
        return; // kept since an earlier change
    }
    kept = std::move(inForce);
    settings = kept.get();
}

TaggingRulesSource RelaySession::TaggingRulesNow() const {
    return [this] {
        return TaggingRules{settings->blockedCharsets, settings->tagUnlabelled,
                            settings->encodedWords, settings->charsetHeader};
    };
}

// The bytes go on first; the log follows, once the reply they belong to has gone on whole.
void RelaySession::Apply(const RelayOutput& out) {
    if (out.clientTlsFrom >= 0) {
        SendToClient(out.toClient.first(out.clientTlsFrom));
        StartClientTls();
        SendToClient(out.toClient.sliced(out.clientTlsFrom));
    } else if (!out.toClient.isEmpty()) {
        SendToClient(out.toClient);
    }
    if (!out.toServer.isEmpty()) {
        SendToServer(out.toServer);
    }
    AddServerLog(out.serverLog);
    if (tlsMarkOwed && !out.clientLog.isEmpty()) {
        tlsMarkOwed = false;
        log.AddClientLines(ClientTlsMark.toByteArray() + out.clientLog);
    } else {
        log.AddClientLines(out.clientLog);
    }
    log.Settle(conversation.ReplyUnderway());
    // Answers of its own held behind a reply still due count for the flow too.
    BalanceFlow();
    ReleaseQuitIfDelivered();
    if (out.reroute >= 0) {
        switchTo = out.reroute;
    }
    SwitchServerWhenDue();
}

// The QUIT goes once every reply before it has been handed to the client's connection whole:
// until then, a timeout, a signal or a crash leaves the mail on the server.
void RelaySession::ReleaseQuitIfDelivered() {
    if (!client || !conversation.QuitMayGo() || client->BytesToWrite() > 0) {
        return;
    }
    Apply(conversation.ReleaseQuit(upstream.CanSend()));
    if (clientFinishWaits && !conversation.HoldsQuit()) {
        clientFinishWaits = false;
        OnClientFinished();
    }
}

// The first line from an account's server names the account, so that the log tells whose
// conversation it is.
void RelaySession::AddServerLog(const QByteArray& lines) {
    if (lines.isEmpty()) {
        return;
    }
    if (std::exchange(accountMarkOwed, false)) {
        log.AddServerText('(' + AccountLogin().toUtf8() + ") " + lines);
        return;
    }
    log.AddServerText(lines);
}

void RelaySession::SendToServer(const QByteArray& bytes) {
    if (!upstream.CanSend()) {
        SendToClient(ServerNotConnectedReply);
        return;
    }
    (void)upstream.Send(bytes);
    BalanceFlow();
}

// A client that has gone simply misses the block; it is not kept for later. One that has only
// finished sending still reads.
void RelaySession::SendToClient(const QByteArray& bytes) {
    if (bytes.isEmpty() || !ClientReachable()) {
        return;
    }
    if (clientSwitching) {
        heldForTls.append(bytes);
        return;
    }
    (void)client->Send(bytes);
    BalanceFlow();
}

bool RelaySession::ClientReachable() const {
    return client && client->IsOpen();
}

// Reading from one side pauses while the other side has more than FlowHighWater bytes waiting
// to be written, and resumes once that has drained below FlowLowWater. Unread data then waits in
// the kernel, which slows the sender down by TCP's own means: memory stays bounded whatever the
// size of a message and however slowly the mail client reads.
void RelaySession::BalanceFlow() {
    const auto balance = [](Connection& reader, qint64 waiting) {
        const bool pause = reader.ReadPaused() ? waiting > FlowLowWater : waiting > FlowHighWater;
        reader.SetReadPaused(pause);
    };
    Connection& server = upstream.Socket();
    balance(server, client ? client->BytesToWrite() : 0);
    if (!client) {
        return;
    }
    // Everything written toward the client counts, the replies Quorlin gives itself included: a
    // client that sends without reading is read no faster than it reads.
    // Answers held back behind a server reply still due count as written toward the client.
    balance(*client,
            qMax(server.BytesToWrite(), client->BytesToWrite() + conversation.HeldBytes()));
    // Nor are more commands read while the server's replies wait for the client to read them,
    // or the reply kind queue is long. Commands sent ahead of the greeting wait for it (the
    // login needs its stamp), and those behind a waiting QUIT for the QUIT.
    if (server.ReadPaused() || conversation.ReplyQueueEntries() > MostQueueEntries ||
        conversation.HoldsQuit() || state == State::AwaitingServer) {
        client->SetReadPaused(true);
    }
}
