#pragma once

#include "relay/ClientCommand.h"
#include "relay/RelayOutput.h"
#include "relay/RelayState.h"
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

    RelayOutput FromClient(const QByteArray& received, RelayState& state, bool serverConnected) {
        RelayOutput out;
        client.Feed(received, state, replies, serverConnected, out);
        return out;
    }

    RelayOutput FromServer(const QByteArray& block, RelayState& state,
                           const TaggingRulesSource& rules) {
        RelayOutput out;
        replies.Feed(block, state, rules, out);
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

    qsizetype HeldBytes() const { return replies.HeldBytes(); }

private:
    ClientStream client;
    ReplyStream replies;
};
