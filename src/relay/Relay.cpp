#include "relay/Relay.h"

#include "platform/ClientSocket.h"
#include "platform/FreedMemory.h"
#include "platform/TlsClientSocket.h"
#include "relay/RelayReplies.h"
#include "settings/Settings.h"

#include <algorithm>

Relay::Relay(RelayView& relayView, const Settings& relaySettings, QObject* parent)
    : QObject(parent), view(relayView), settings(relaySettings), listener(NewListener()),
      tlsListener(NewListener()) {
    KeepFreedMemoryForReuse();
    memoryReturn.setSingleShot(true);
    memoryReturn.setInterval(MemoryReturnDelayMs);
    connect(&memoryReturn, &QTimer::timeout, this, [] { ReturnFreedMemory(); });
}

Relay::~Relay() {
    for (RelaySession* session : std::as_const(sessions)) {
        session->disconnect(this);
    }
}

std::unique_ptr<Listener> Relay::NewListener() {
    auto created = std::make_unique<Listener>();
    connect(created.get(), &Listener::Incoming, this,
            [this, from = created.get()] { OnIncomingClient(*from); });
    return created;
}

namespace {

// Where a settings' listener for TLS from the first byte listens; none without one.
std::optional<ListenSetting> ImplicitTlsPlace(const Settings& settings) {
    if (!settings.ClientTlsReady() || settings.clientTls.implicitPort == 0) {
        return std::nullopt;
    }
    return ListenSetting{settings.clientTls.implicitPort, settings.listen.address};
}

bool SamePlace(const std::optional<ListenSetting>& a, const std::optional<ListenSetting>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->address == b->address && a->port == b->port));
}

} // namespace

Result<> Relay::StartListening() {
    return listener->Listen(ListenAddresses(settings.listen.address), settings.listen.port);
}

Result<> Relay::StartImplicitTlsListening() {
    const std::optional<ListenSetting> place = ImplicitTlsPlace(settings);
    return place ? tlsListener->Listen(ListenAddresses(place->address), place->port) : Result<>();
}

QList<Relay::ListenFailure> Relay::ListenAgain(const Settings& next) {
    QList<ListenFailure> failures;
    const std::pair<std::unique_ptr<Listener>*,
                    std::pair<std::optional<ListenSetting>, std::optional<ListenSetting>>>
        moves[] = {{&listener, {settings.listen, next.listen}},
                   {&tlsListener, {ImplicitTlsPlace(settings), ImplicitTlsPlace(next)}}};
    for (const auto& [slot, places] : moves) {
        const Result<> moved = Move(*slot, places.first, places.second);
        if (!moved) {
            failures.append(
                {slot == &tlsListener, places.second->port, (*slot)->Port(), moved.Error()});
        }
    }
    return failures;
}

Result<> Relay::Move(std::unique_ptr<Listener>& slot, const std::optional<ListenSetting>& now,
                     const std::optional<ListenSetting>& wanted) {
    if (SamePlace(now, wanted)) {
        return {};
    }
    if (!wanted) {
        slot->Close();
        return {};
    }
    std::unique_ptr<Listener> fresh = NewListener();
    Result<> listening = fresh->Listen(ListenAddresses(wanted->address), wanted->port);
    if (!listening && now && wanted->port == slot->Port() && slot->IsListening()) {
        // All addresses and one of them on the same port: the system lets only one hold it.
        slot->Close();
        listening = fresh->Listen(ListenAddresses(wanted->address), wanted->port);
        if (!listening) {
            (void)slot->Listen(ListenAddresses(now->address), slot->Port());
        }
    }
    if (!listening) {
        return listening;
    }
    slot->Close();
    slot = std::move(fresh);
    return {};
}

void Relay::KeepSettingsForSessions() {
    if (sessions.isEmpty()) {
        return;
    }
    const auto inForce = std::make_shared<const Settings>(settings);
    for (RelaySession* session : std::as_const(sessions)) {
        session->KeepSettings(inForce);
    }
}

std::optional<Relay::StartFailure> Relay::StartAllListening() {
    for (const auto& [listen, port] :
         {std::pair{&Relay::StartListening, settings.listen.port},
          std::pair{&Relay::StartImplicitTlsListening, settings.clientTls.implicitPort}}) {
        if (const Result<> listening = (this->*listen)(); !listening) {
            return StartFailure{port, listening.Error()};
        }
    }
    quint16 failedPort = 0;
    if (const Result<> listening = StartAccountListening(failedPort); !listening) {
        return StartFailure{failedPort, listening.Error()};
    }
    return std::nullopt;
}

// Matched by port: a port kept goes on listening for whichever account has it now.
Result<> Relay::StartAccountListening(quint16& failedPort) {
    std::vector<AccountListener> kept;
    Result<> outcome;
    for (int index = 1; index < settings.accounts.size(); ++index) {
        const quint16 port = settings.accounts[index].listenPort;
        if (port == 0) {
            continue;
        }
        const auto held = std::find_if(
            accountListeners.begin(), accountListeners.end(), [port](const AccountListener& a) {
                return a.listener && a.listener->IsListening() && a.listener->Port() == port;
            });
        if (held != accountListeners.end()) {
            kept.push_back({index, std::move(held->listener)});
            continue;
        }
        std::unique_ptr<Listener> added = NewListener();
        const Result<> listening = added->Listen(settings.listen.address, port);
        if (!listening) {
            failedPort = port;
            outcome = listening;
            continue;
        }
        kept.push_back({index, std::move(added)});
    }
    for (const AccountListener& gone : accountListeners) {
        if (gone.listener) {
            gone.listener->Close();
        }
    }
    accountListeners = std::move(kept);
    return outcome;
}

quint16 Relay::AccountListeningPort(int account) const {
    for (const AccountListener& held : accountListeners) {
        if (held.account == account && held.listener->IsListening()) {
            return held.listener->Port();
        }
    }
    return 0;
}

std::unique_ptr<Connection> Relay::Accept(Listener& from) {
    if (&from != tlsListener.get()) {
        return from.Accept();
    }
    const qintptr descriptor = from.TakeDescriptor();
    if (descriptor < 0) {
        return nullptr;
    }
    return std::make_unique<TlsClientSocket>(descriptor, settings.clientIdentity);
}

void Relay::OnIncomingClient(Listener& from) {
    if (ClientSessions() >= settings.maxClients) {
        if (const std::unique_ptr<Connection> refused = Accept(from)) {
            (void)refused->Send(TooManyClientsReply(settings.maxClients));
            refused->Close();
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
    std::unique_ptr<Connection> client = Accept(from);
    if (!client) {
        return;
    }
    std::optional<int> portAccount;
    for (const AccountListener& held : accountListeners) {
        if (held.listener.get() == &from) {
            portAccount = held.account;
        }
    }
    NewSession()->Start(std::move(client), portAccount);
}

RelaySession* Relay::NewSession() {
    auto* session = new RelaySession(
        view, settings, [this] { return SessionCount(); }, FreeNumber(), this);
    sessions.append(session);
    connect(session, &RelaySession::ServerConnectFailed, this, &Relay::ServerConnectFailed);
    connect(session, &RelaySession::ServerSentNoGreeting, this, &Relay::ServerSentNoGreeting);
    connect(session, &RelaySession::ServerTlsFailed, this, &Relay::ServerTlsFailed);
    connect(session, &RelaySession::Checked, this, &Relay::AccountChecked);
    connect(session, &RelaySession::ServerChanged, this, &Relay::TellConsoleClient);
    connect(session, &RelaySession::Finished, this, [this, session] { SessionFinished(session); });
    // Its memory is freed once it is deleted, after Finished.
    connect(session, &QObject::destroyed, &memoryReturn, qOverload<>(&QTimer::start));
    TellConsoleClient();
    Q_EMIT SessionsChanged(SessionCount());
    return session;
}

void Relay::SessionFinished(RelaySession* session) {
    sessions.removeOne(session);
    session->deleteLater();
    if (session->HasClient() && ClientSessions() == 0) {
        view.HideWindow();
        view.ShowTrayPicture(TrayPicture::Idle);
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
    const RelaySession* latest = LatestSession();
    view.ConsoleServer(latest ? latest->AccountLogin() : QString());
}

Relay::ConsoleResult Relay::ConsoleSend(int index, const QByteArray& line) {
    RelaySession* latest = LatestSession();
    if (index == 0) {
        if (!latest) {
            NewSession()->ConnectServer();
            return ConsoleResult::ServerConnectStarted;
        }
        if (!latest->ConsoleToServer(line)) {
            latest->ConnectServer();
            return ConsoleResult::ServerConnectStarted;
        }
        return ConsoleResult::Sent;
    }
    if (!latest || !latest->ConsoleToClient(line)) {
        return ConsoleResult::ClientNotConnected;
    }
    return ConsoleResult::Sent;
}

void Relay::CloseAll() {
    for (RelaySession* session : QList<RelaySession*>(sessions)) {
        session->End();
    }
    listener->Close();
    tlsListener->Close();
    for (const AccountListener& held : accountListeners) {
        held.listener->Close();
    }
}
