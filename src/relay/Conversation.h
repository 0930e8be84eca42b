#pragma once

#include "relay/ClientCommand.h"
#include "relay/LoginState.h"
#include "relay/RelayOutput.h"
#include "relay/ReplyStream.h"

// Both sides of one POP3 conversation through the relay, without sockets: what the client and
// the server send goes in, what each side and each log gets comes out.
class Conversation {
public:
    explicit Conversation(qsizetype gatherLimit = ReplyStream::GatherLimit)
        : replies(gatherLimit) {}

    // A new connection to the server (and, when a client connects, a new client).
    void Reset() {
        client.Reset();
        replies.Reset();
    }

    // How the client's PASS logs in from now on: APOP, or USER and PASS inside TLS.
    void SetLoginInsideTls(bool on) { client.SetLoginInsideTls(on); }
    // Which server a login name goes to (ClientStream::SetRouting), and the name that server
    // knows when it is not the login name.
    void SetRouting(AccountRouter router, std::optional<int> connected) {
        client.SetRouting(std::move(router), connected);
    }
    void SetServerUser(const QByteArray& user) { client.SetServerUser(user); }
    // What the client's connection allows now: STLS, SASL.
    void SetClientChannel(const ClientChannel& channel) { client.SetChannel(channel); }
    // The client's STLS has brought TLS about: what it said before counts no more (RFC 2595).
    void ClientTlsStarted() {
        client.TlsStarted();
        login.user.clear();
        login.password.clear();
    }

    // The server's greeting, gathered whole, goes to the client; its stamp is kept for APOP.
    // A greeting cut at the line limit is followed by the rest of its line as by a reply.
    RelayOutput Greeted(const QByteArray& greeting) {
        login.greeting = greeting;
        RelayOutput out;
        out.toClient = greeting;
        if (!greeting.endsWith('\n')) {
            replies.Expect(ReplyKind::SingleLine, out);
        }
        return out;
    }

    // The server the login needs has greeted in place of the one the client saw: its stamp is
    // kept for APOP, the greeting itself goes nowhere, and the client's waiting lines go on.
    RelayOutput Rerouted(const QByteArray& greeting) {
        login.greeting = greeting;
        RelayOutput out;
        client.Rerouted(login, replies, out);
        return out;
    }
    // Replies of the server connected now are still due: a change of server waits for them.
    bool AwaitsServer() const { return replies.AwaitsReplies(); }
    bool ReplyUnderway() const { return replies.ReplyUnderway(); }
    const CheckTally& Tally() const { return replies.Tally(); }

    RelayOutput FromClient(const QByteArray& received, bool serverConnected) {
        RelayOutput out;
        client.Feed(received, login, replies, serverConnected, out);
        return out;
    }

    RelayOutput FromServer(const QByteArray& block, const TaggingRulesSource& rules) {
        RelayOutput out;
        replies.Feed(block, rules, out);
        return out;
    }

    RelayOutput ServerClosed(const TaggingRulesSource& rules) {
        RelayOutput out;
        replies.ServerClosed(rules, out);
        return out;
    }

    // A line typed into the console went to the server: its reply is awaited like the others.
    RelayOutput ConsoleSentToServer(QByteArrayView line) {
        RelayOutput out;
        replies.Expect(KindOfReplyTo(line), out);
        return out;
    }

    // A QUIT from the client waits (ClientStream::HoldsQuit). It may go once the server has
    // answered everything before it; the caller also sees that the answers reached the client.
    bool HoldsQuit() const { return client.HoldsQuit(); }
    bool QuitMayGo() const { return HoldsQuit() && !replies.AwaitsReplies(); }
    RelayOutput ReleaseQuit(bool serverConnected) {
        RelayOutput out;
        client.ReleaseQuit(login, replies, serverConnected, out);
        return out;
    }

    qsizetype ReplyQueueEntries() const { return replies.QueueEntries(); }
    qsizetype HeldBytes() const { return replies.HeldBytes(); }
    const LoginState& Login() const { return login; }
    QList<ReplyKind> ExpectedReplies() const { return replies.ExpectedKinds(); }

private:
    LoginState login;
    ClientStream client;
    ReplyStream replies;
};
