// fuzz-sources: src/relay/SaslLogin.cpp
//
// Any client lines through an AUTH exchange: the input is cut at LF into lines, the first one
// (and each after an exchange has ended) given as the AUTH line. Checked on every run:
// - every reply is whole lines, each ending with CR LF, and starts "+ ", "+OK" or "-ERR";
// - credentials come only with an empty reply and end the exchange;
// - credentials hold no CR, LF or NUL (they go into the server's APOP, USER and PASS lines),
//   and the user name no space;
// - no log line of the exchange holds the password that came out of it.

#include "relay/SaslLogin.h"

#include <QByteArray>
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

bool WholeLines(const QByteArray& reply) {
    return reply.endsWith("\r\n") && reply.count('\n') == reply.count("\r\n");
}

// A password found in a log line may be there for another reason: as part of the user name or
// of the log's own words.
bool Explained(const QByteArray& password, const QByteArray& user) {
    return user.contains(password) || QByteArray("AUTH PLAIN LOGIN (user , password ******)")
                                          .toUpper()
                                          .contains(password.toUpper());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    SaslExchange exchange;
    QList<QByteArray> logged;
    for (const QByteArray& line : input.split('\n')) {
        const SaslStep step =
            exchange.AwaitingResponse() ? exchange.Respond(line) : exchange.Start("AUTH " + line);
        Require(step.awaitingResponse == exchange.AwaitingResponse(), "the step tells the state");
        logged.append(step.logLine);
        if (step.credentials) {
            const SaslCredentials& got = *step.credentials;
            Require(step.reply.isEmpty() && !step.awaitingResponse, "credentials end it");
            for (const char c : {'\r', '\n', '\0'}) {
                Require(!got.user.contains(c) && !got.password.contains(c), "no line breaks");
            }
            Require(!got.user.isEmpty() && !got.user.contains(' '), "a user name of one word");
            for (const QByteArray& shown : logged) {
                Require(!shown.contains(got.password) || Explained(got.password, got.user),
                        "no password in the log");
            }
            logged.clear();
            continue;
        }
        Require(WholeLines(step.reply), "whole lines");
        Require(step.reply.startsWith("+ ") || step.reply.startsWith("+OK") ||
                    step.reply.startsWith("-ERR"),
                "a POP3 answer");
    }
    return 0;
}
