// clang-format off
// fuzz-sources: src/relay/ClientCommand.cpp src/relay/SaslLogin.cpp src/relay/Login.cpp src/relay/GreetingLine.cpp src/relay/ReplyStream.cpp src/relay/Tagging.cpp src/relay/HeaderScan.cpp src/relay/EncodedWords.cpp src/platform/Lines.cpp src/platform/Cp932.cpp src/digest/MD5Hash.cpp
// clang-format on
//
// Any server bytes, cut at any points, behind any pipelined client commands: the greeting's
// gathering, the reply kind queue, the gathering of a RETR's header for the tagging and the
// CAPA filter must give the client, the server and both logs the same bytes as when everything
// came in one block.
//
// Input: the first byte sets the options (bit 0 login inside TLS, bit 1 unlabelled mail tagged,
// bit 2 encoded words, bit 3 the charset header, bit 4 SASL allowed to the client, bit 5 STLS
// offered to it, bit 6 a small gathering bound); the next byte is the length of the client's
// commands, which follow; then the server's bytes, greeting first, cut as CutBytes reads them.

#include "CutBytes.h"
#include "relay/Conversation.h"
#include "relay/GreetingLine.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

struct Options {
    bool loginInsideTls = false;
    TaggingRules rules;
    ClientChannel channel;
    qsizetype gatherLimit = ReplyStream::GatherLimit;
    QByteArray commands;
};

struct Seen {
    QByteArray toClient;
    QByteArray toServer;
    QByteArray serverLog;
    QByteArray clientLog;
    bool awaiting = false;  // replies were still awaited when the server closed
    bool retrieved = false; // a RETR was among the commands

    void Add(const RelayOutput& out) {
        toClient += out.toClient;
        toServer += out.toServer;
        serverLog += out.serverLog;
        clientLog += out.clientLog;
    }
};

// One conversation as the relay holds it: the greeting gathered first, then the client's
// commands, then the server's pieces as they come, and at last the server's close.
Seen Run(const Options& options, const QList<QByteArray>& pieces) {
    Conversation conversation(options.gatherLimit);
    conversation.Reset();
    conversation.SetLoginInsideTls(options.loginInsideTls);
    conversation.SetClientChannel(options.channel);
    const TaggingRulesSource rules = [&options] { return options.rules; };
    GreetingLine greeting;
    bool greeted = false;
    Seen seen;
    for (QByteArray piece : pieces) {
        if (!greeted) {
            const GreetingLine::Step step = greeting.Feed(piece);
            if (!step.complete) {
                continue;
            }
            greeted = true;
            seen.serverLog += step.greeting;
            seen.Add(conversation.Greeted(step.greeting));
            seen.Add(conversation.FromClient(options.commands, true));
            seen.retrieved = conversation.ExpectedReplies().contains(ReplyKind::Retr);
            piece = step.rest;
        }
        if (!piece.isEmpty()) {
            seen.Add(conversation.FromServer(piece, rules));
        }
    }
    if (greeted) {
        seen.awaiting = !conversation.ExpectedReplies().isEmpty();
        seen.Add(conversation.ServerClosed(rules));
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView input(data, static_cast<qsizetype>(size));
    if (input.size() < 3) {
        return 0;
    }
    const auto flags = std::uint8_t(input[0]);
    Options options;
    options.loginInsideTls = flags & 1;
    options.rules.blockedCharsets = {QStringLiteral("iso-2022-jp"), QStringLiteral("utf-8")};
    options.rules.tagUnlabelled = flags & 2;
    options.rules.encodedWords = flags & 4;
    options.rules.charsetHeader = flags & 8;
    options.channel.tlsFeatures = flags & 0x30;
    options.channel.loopback = flags & 0x10;
    options.channel.canStartTls = flags & 0x20;
    options.gatherLimit = (flags & 0x40) ? 300 : ReplyStream::GatherLimit;
    const qsizetype commandsSize = qMin<qsizetype>(std::uint8_t(input[1]), input.size() - 2);
    options.commands = input.sliced(2, commandsSize).toByteArray();
    input = input.sliced(2 + commandsSize);
    if (input.isEmpty()) {
        return 0;
    }
    const CutBytes server(input);

    const Seen whole = Run(options, {server.whole});
    const Seen cut = Run(options, server.pieces);
    Require(cut.toClient == whole.toClient, "the client gets the same bytes however they are cut");
    Require(cut.toServer == whole.toServer, "the server gets the same commands");
    // The log shows of a RETR reply what was inspected, and bytes the server sends unasked
    // behind the last reply only where that reply's end was looked for: the cuts decide both.
    Require(whole.retrieved || !whole.awaiting || cut.serverLog == whole.serverLog,
            "the server log holds the same bytes");
    Require(cut.clientLog == whole.clientLog, "the client log holds the same lines");
    return 0;
}
