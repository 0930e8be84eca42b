#pragma once

#include "relay/LoginState.h"
#include "relay/RelayOutput.h"
#include "relay/ReplyStream.h"
#include "relay/SaslLogin.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>

// What the mail client's connection allows, as its session knows it. All off is Quorlin without
// TLS toward clients: STLS and AUTH refused, neither offered.
struct ClientChannel {
    bool tlsFeatures =
        false; // switched on: SASL taken in where it is safe, STLS with a certificate
    bool canStartTls = false; // switched on, and a certificate to show
    bool encrypted = false;   // the connection is inside TLS
    bool loopback = false;    // the client is on this machine

    // A password through SASL crosses nothing that USER and PASS would not.
    bool SaslAllowed() const { return tlsFeatures && (encrypted || loopback); }
};

// The account a login name goes to, by its index in the settings (0: the default account).
using AccountRouter = std::function<int(QByteArrayView user)>;

// The mail client's side of one conversation, without sockets: the client's bytes are read as
// lines (ended by CR LF or a lone LF), whatever pieces they arrive in, and each line is one
// command, handled by its keyword in any letter case. USER is answered here and PASS becomes
// the login at the server (APOP, or USER and PASS inside TLS); so do the name and password of
// an AUTH PLAIN or LOGIN where the channel allows SASL. STLS is taken here where the channel
// can start TLS, and refused as AUTH is elsewhere (the password goes nowhere in clear and the
// conversation stays readable to Quorlin). Every other line goes to the server as it came, its
// reply expected in the reply kind queue; CAPA's reply gets Quorlin's own STLS and SASL lines.
class ClientStream {
public:
    // POP3 commands have at most 255 octets; a line longer than this is refused and dropped.
    static constexpr qsizetype LineLimit = 8 * 1024;

    // A new client: nothing of an earlier one is held.
    void Reset();
    // Inside TLS toward the server the channel protects the password: PASS becomes USER and
    // PASS, not APOP.
    void SetLoginInsideTls(bool on) { loginInsideTls = on; }
    void SetChannel(const ClientChannel& now) { channel = now; }
    // Several accounts: the name of USER (or of an AUTH) picks the server before the login, by
    // `router`; `connected` is the account whose server the client is greeted from, or none
    // when Quorlin greeted it itself.
    void SetRouting(AccountRouter router, std::optional<int> connected);
    // The name the server knows, where it is not the login name.
    void SetServerUser(const QByteArray& user) { serverUser = user; }
    // The account's server has greeted after a change of server: the login waiting for it
    // goes, and the client's lines held since are read.
    void Rerouted(LoginState& login, ReplyStream& replies, RelayOutput& out);
    // An arrival from the client. Replies of its own go through `replies`, in their turn.
    void Feed(const QByteArray& received, LoginState& login, ReplyStream& replies,
              bool serverConnected, RelayOutput& out);
    // The TLS that the client's STLS asked for is up: its lines are read again, from scratch.
    void TlsStarted();

    // The server commits deletions at QUIT, so a QUIT waits here, with whatever came behind it,
    // until the replies before it have reached the client: a conversation cut off before then
    // leaves the mail on the server.
    bool HoldsQuit() const { return !heldFromQuit.isEmpty(); }
    // The QUIT goes to the server, and what came behind it is read on.
    void ReleaseQuit(LoginState& login, ReplyStream& replies, bool serverConnected,
                     RelayOutput& out);

private:
    // False when the line is a QUIT that has to wait.
    bool Line(QByteArrayView line, LoginState& login, ReplyStream& replies, bool serverConnected,
              RelayOutput& out);
    void TooLong(ReplyStream& replies, RelayOutput& out);
    void RefuseAuth(QByteArrayView keyword, QByteArrayView rest, ReplyStream& replies,
                    RelayOutput& out);
    void Stls(QByteArrayView text, ReplyStream& replies, RelayOutput& out);
    void SaslStepTaken(const SaslStep& step, LoginState& login, ReplyStream& replies,
                       bool serverConnected, RelayOutput& out);
    void SendLogin(const LoginState& login, ReplyStream& replies, bool serverConnected,
                   RelayOutput& out);
    QByteArray OwnCapabilities() const;
    void Route(const QByteArray& user, RelayOutput& out);
    bool MayForwardApop() const;

    QByteArray heldFromQuit;    // a QUIT line and what followed it, while the QUIT waits
    bool quitMayGo = false;     // the held QUIT is being released
    QByteArray pending;         // an incomplete line, waiting for its end
    bool discarding = false;    // the rest of a line too long is dropped up to its end
    bool saslMayFollow = false; // the line before was a refused AUTH with a mechanism
    bool loginInsideTls = false;
    ClientChannel channel;
    SaslExchange sasl;
    bool loginSent = false;   // a login went to the server: STLS and SASL are over
    bool awaitingTls = false; // STLS was accepted: nothing in clear counts any more

    AccountRouter router; // none: one server, as without accounts
    int route = 0;        // the account whose server the login goes to
    // The server connected now greeted the client itself: only its stamp fits a client's APOP.
    bool greetingShown = true;
    bool ownGreeting = false; // Quorlin greeted the client, without a server
    bool rerouting = false;   // another server is being connected: the client's lines wait
    QByteArray heldInput;     // what the client sent meanwhile
    bool loginOwed = false;   // an AUTH's login waits for that server
    QByteArray serverUser;
};

// The kind of reply the server gives to a command line (without its line end) sent to it.
ReplyKind KindOfReplyTo(QByteArrayView commandLine);

inline constexpr char MaskedPassLine[] = "PASS ******";
