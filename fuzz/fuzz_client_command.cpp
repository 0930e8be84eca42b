// fuzz-sources: src/relay/ClientCommand.cpp src/relay/Pieces.cpp src/digest/MD5Hash.cpp
//
// Any greeting and any series of client arrivals through the client-command handling, each
// result checked against a model of it written here from scratch: every input byte is accounted
// for in order, whatever is not a login command reaches the server exactly as it came, the
// password never shows in the log nor goes out in clear, and the APOP line is right to the digit.
//
// Input: the first byte is the length of the greeting (Greed), which follows. Then arrivals,
// each one a length byte and that many bytes; a length byte of 0 makes the rest of the input the
// last arrival.

#include "relay/ClientCommand.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
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

bool IsCrLf(QByteArrayView text, qsizetype at) {
    return at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n';
}

QByteArray FirstWord(QByteArrayView text) {
    const qsizetype space = text.indexOf(' ');
    return (space < 0 ? text : text.first(space)).toByteArray();
}

// The text between the first and the second space, CR LF pairs taken out.
QByteArray SecondWord(QByteArrayView text) {
    const qsizetype first = text.indexOf(' ');
    if (first < 0) {
        return {};
    }
    QByteArray word;
    for (qsizetype i = first + 1; i < text.size() && text[i] != ' '; ++i) {
        if (IsCrLf(text, i)) {
            ++i;
        } else {
            word.append(text[i]);
        }
    }
    return word;
}

QList<QByteArray> CompleteLines(QByteArrayView text) {
    QList<QByteArray> lines;
    QByteArray piece;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsCrLf(text, i)) {
            lines.append(piece);
            piece.clear();
            ++i;
        } else {
            piece.append(text[i]);
        }
    }
    return lines;
}

QByteArray Stamp(QByteArrayView greeting) {
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = open < 0 ? -1 : greeting.indexOf('>', open);
    return close < 0 ? QByteArray() : greeting.sliced(open, close - open + 1).toByteArray();
}

bool IsApopLine(QByteArrayView line, QByteArrayView user) {
    const QByteArrayView head = "APOP ";
    if (line.size() != head.size() + user.size() + 1 + 32 + 2 || !line.startsWith(head) ||
        line.sliced(head.size(), user.size()) != user || line[head.size() + user.size()] != ' ' ||
        !line.endsWith("\r\n")) {
        return false;
    }
    for (const char c : line.sliced(head.size() + user.size() + 1, 32)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// What the handling remembers between arrivals, as the model sees it.
struct Model {
    QByteArray user;
    QByteArray password;
};

// One arrival: walks the input and the steps side by side.
void CheckArrival(const QByteArray& greeting, const QByteArray& arrival, Model& model,
                  const QList<ClientStep>& steps, const RelayState& after) {
    qsizetype at = 0;
    qsizetype next = 0;
    QByteArray lastWord;
    for (;;) {
        Require(next < steps.size(), "a step for every command");
        const ClientStep& step = steps[next++];
        const QByteArrayView rest = QByteArrayView(arrival).sliced(at);
        lastWord = FirstWord(rest);
        if (lastWord != "USER" && lastWord != "PASS") {
            Require(step.toServer == rest, "anything else goes to the server exactly as it came");
            Require(step.toClient.isEmpty(), "anything else gets no local reply");
            Require(step.logLines == CompleteLines(rest), "its complete lines are logged");
            at = arrival.size();
            break;
        }
        // A login command is its first line; what follows it is handled on its own.
        const qsizetype lineEnd = rest.indexOf("\r\n");
        const QByteArrayView command =
            lineEnd >= 0 && lineEnd + 2 < rest.size() ? rest.first(lineEnd + 2) : rest;
        const bool hasLine = command.endsWith("\r\n");
        if (lastWord == "USER") {
            model.user = SecondWord(command);
            Require(step.toClient == UserReply, "USER is answered locally");
            Require(step.toServer.isEmpty(), "USER is not sent on");
            Require(step.logLines == CompleteLines(command), "the USER line is logged as it is");
        } else {
            model.password = SecondWord(command);
            Require(step.logLines ==
                        (hasLine ? QList<QByteArray>{MaskedPassLine} : QList<QByteArray>{}),
                    "the PASS line is logged masked and nothing else of it is");
            Require(!hasLine ||
                        (!step.toServer.contains(command) && !step.toClient.contains(command)),
                    "the PASS line never goes out in clear");
            const QByteArray stamp = Stamp(greeting);
            if (stamp.isEmpty()) {
                Require(step.toServer.isEmpty(), "without a timestamp nothing goes to the server");
                Require(step.toClient == NoTimestampReply,
                        "without a timestamp the client is told");
            } else {
                Require(step.toClient.isEmpty(), "a login gets no local reply");
                Require(IsApopLine(step.toServer, model.user), "the APOP line has its form");
                const QByteArray digest =
                    QCryptographicHash::hash(stamp + model.password, QCryptographicHash::Md5)
                        .toHex();
                Require(step.toServer == "APOP " + model.user + ' ' + digest + "\r\n",
                        "the APOP digest is MD5 of the timestamp and the password");
            }
        }
        at += command.size();
        if (at == arrival.size()) {
            break;
        }
    }
    Require(at == arrival.size(), "every byte is accounted for");
    Require(next == steps.size(), "no step without a command");
    Require(after.Com == (lastWord == "RETR" ? QByteArray("RES") : QByteArray()),
            "Com follows the last command");
    Require(after.USER == model.user && after.PASS == model.password,
            "USER and PASS hold the last values given");
    Require(after.Greed == greeting, "the greeting is left alone");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView input(data, static_cast<qsizetype>(size));
    if (input.isEmpty()) {
        return 0;
    }
    const qsizetype greetingSize = qMin<qsizetype>(std::uint8_t(input[0]), input.size() - 1);
    RelayState state;
    state.Greed = input.sliced(1, greetingSize).toByteArray();
    state.AddB = true;
    input = input.sliced(1 + greetingSize);

    Model model;
    while (!input.isEmpty()) {
        const qsizetype length = std::uint8_t(input[0]);
        input = input.sliced(1);
        const qsizetype taken = length == 0 ? input.size() : qMin(length, input.size());
        const QByteArray arrival = input.first(taken).toByteArray();
        input = input.sliced(taken);
        const QList<ClientStep> steps = HandleClientArrival(state, arrival);
        CheckArrival(state.Greed, arrival, model, steps, state);
    }
    return 0;
}
