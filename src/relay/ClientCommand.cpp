#include "relay/ClientCommand.h"

#include "digest/MD5Hash.h"
#include "relay/Pieces.h"

namespace {

QByteArray FirstWord(const QByteArray& text) {
    const qsizetype space = text.indexOf(' ');
    return space < 0 ? text : text.left(space);
}

// The text between the first and the second space, without any CR LF pair in it.
QByteArray SecondWord(const QByteArray& text) {
    const qsizetype first = text.indexOf(' ');
    if (first < 0) {
        return {};
    }
    const qsizetype second = text.indexOf(' ', first + 1);
    QByteArray word = second < 0 ? text.mid(first + 1) : text.mid(first + 1, second - first - 1);
    return word.replace("\r\n", "");
}

ClientStep HandleOneCommand(RelayState& state, const QByteArray& command,
                            const QByteArray& firstWord) {
    ClientStep step;
    state.Com = firstWord == "RETR" ? QByteArray("RES") : QByteArray();
    step.logLines = CompleteLines(command);

    if (firstWord == "USER") {
        state.USER = SecondWord(command);
        step.toClient = UserReply;
    } else if (firstWord == "PASS") {
        state.PASS = SecondWord(command);
        step.login = true;
        // The password line is the first line of this command; it never reaches the log.
        if (!step.logLines.isEmpty()) {
            step.logLines.first() = MaskedPassLine;
        }
        const QByteArray timestamp = ApopTimestamp(state.Greed);
        if (timestamp.isEmpty()) {
            // Without a stamp there is no APOP, and the password must not go out in clear.
            step.toClient = NoTimestampReply;
        } else {
            step.toServer = "APOP " + state.USER + ' ' +
                            DigestBytes(timestamp + state.PASS).toLatin1() + "\r\n";
        }
    } else {
        step.toServer = command;
    }
    return step;
}

} // namespace

QByteArray ApopTimestamp(const QByteArray& greeting) {
    const qsizetype open = greeting.indexOf('<');
    if (open < 0) {
        return {};
    }
    const qsizetype close = greeting.indexOf('>', open + 1);
    if (close < 0) {
        return {};
    }
    return greeting.mid(open, close - open + 1);
}

QList<ClientStep> HandleClientArrival(RelayState& state, const QByteArray& received) {
    QList<ClientStep> steps;
    QByteArray remaining = received;
    for (;;) {
        const QByteArray firstWord = FirstWord(remaining);
        QByteArray command = remaining;
        remaining.clear();
        if (firstWord == "USER" || firstWord == "PASS") {
            // A login command never runs on into the next line: pipelined commands behind it
            // are handled on their own.
            const qsizetype lineEnd = command.indexOf("\r\n");
            if (lineEnd >= 0 && lineEnd + 2 < command.size()) {
                remaining = command.mid(lineEnd + 2);
                command.truncate(lineEnd + 2);
            }
        }
        steps.append(HandleOneCommand(state, command, firstWord));
        if (remaining.isEmpty()) {
            return steps;
        }
    }
}
