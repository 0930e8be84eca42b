// clang-format off
// fuzz-sources: src/relay/ClientCommand.cpp src/relay/SaslLogin.cpp src/relay/Login.cpp src/relay/GreetingLine.cpp src/relay/ReplyStream.cpp src/relay/Tagging.cpp src/relay/HeaderScan.cpp src/relay/EncodedWords.cpp src/platform/Lines.cpp src/platform/Cp932.cpp src/digest/MD5Hash.cpp
// clang-format on
//
// Any greeting and any series of client arrivals through the conversation's client side, the
// result checked against a model of it written here from scratch: the client's bytes are read
// as lines whatever the arrivals, every line that is not a login, AUTH or STLS (nor the SASL
// data after a refused AUTH, nor one holding a bare CR) reaches the server exactly as it came
// and in order, a QUIT only once nothing is awaited before it (nothing answers here), the
// password never shows in the log nor goes out in clear, the APOP line is right to the digit,
// and the replies awaited follow the lines sent.
//
// Input: the first byte is the length of the greeting line, which follows. Then arrivals,
// each one a length byte and that many bytes; a length byte of 0 makes the rest of the input the
// last arrival.

#include "relay/Conversation.h"
#include "relay/GreetingLine.h"
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

constexpr qsizetype LineLimit = 8 * 1024;

bool Keyword(QByteArrayView line, const char* name) {
    qsizetype end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') {
        ++end;
    }
    return line.first(end).compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

// The line without its LF and a CR before it.
QByteArrayView Text(QByteArrayView line) {
    line.chop(1);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

// The text after the keyword's space or tab, up to the next space or CR.
QByteArray Argument(QByteArrayView text) {
    qsizetype at = 0;
    while (at < text.size() && text[at] != ' ' && text[at] != '\t') {
        ++at;
    }
    QByteArray word;
    for (++at; at < text.size() && text[at] != ' ' && text[at] != '\r'; ++at) {
        word.append(text[at]);
    }
    return word;
}

// The text after the keyword's space or tab, to the end of the line: the password.
QByteArray Rest(QByteArrayView text) {
    qsizetype at = 0;
    while (at < text.size() && text[at] != ' ' && text[at] != '\t') {
        ++at;
    }
    return text.sliced(qMin(at + 1, text.size())).toByteArray();
}

QByteArray Stamp(QByteArrayView greeting) {
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = open < 0 ? -1 : greeting.indexOf('>', open);
    return close < 0 ? QByteArray() : greeting.sliced(open, close - open + 1).toByteArray();
}

// The kind of reply a forwarded command line gets: LIST, UIDL and LANG list only without an
// argument.
ReplyKind KindOf(QByteArrayView text) {
    qsizetype end = 0;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') {
        ++end;
    }
    bool argument = false;
    for (qsizetype at = end + 1; at < text.size(); ++at) {
        argument = argument || (text[at] != ' ' && text[at] != '\t');
    }
    if (Keyword(text, "RETR")) {
        return ReplyKind::Retr;
    }
    if (Keyword(text, "CAPA")) {
        return ReplyKind::Capa;
    }
    if (Keyword(text, "TOP") ||
        (!argument && (Keyword(text, "LIST") || Keyword(text, "UIDL") || Keyword(text, "LANG")))) {
        return ReplyKind::MultiLine;
    }
    return ReplyKind::SingleLine;
}

bool Known(QByteArrayView line) {
    for (const char* name : {"USER", "PASS", "APOP", "AUTH", "STLS", "CAPA", "QUIT", "STAT", "LIST",
                             "RETR", "DELE", "NOOP", "RSET", "TOP", "UIDL", "LANG", "UTF8"}) {
        if (Keyword(line, name)) {
            return true;
        }
    }
    return false;
}

// What the server must have got, line by line, for the whole client stream so far.
struct Model {
    QByteArray greeting;
    QByteArray user;
    QByteArray password;
    QByteArray toServer;
    QList<ReplyKind> awaited;
    bool saslMayFollow = false;

    // False for a QUIT that waits for the replies before it: nothing after it is read.
    bool Line(QByteArrayView line) {
        const QByteArrayView text = Text(line);
        if (saslMayFollow) {
            saslMayFollow = false;
            if (!Known(text)) {
                return true;
            }
        }
        if (text.contains('\r')) {
            return true; // refused: a bare CR would let a line carry another command
        }
        if (Keyword(text, "AUTH")) {
            saslMayFollow = !Argument(text).isEmpty();
            return true;
        }
        if (Keyword(text, "STLS")) {
            return true;
        }
        if (Keyword(text, "QUIT") && !awaited.isEmpty()) {
            return false;
        }
        if (Keyword(text, "USER")) {
            user = Argument(text);
        } else if (Keyword(text, "PASS")) {
            password = Rest(text);
            const QByteArray stamp = Stamp(greeting);
            // Without a name from this client nobody is logged in: the relay answers itself.
            if (!stamp.isEmpty() && !user.isEmpty()) {
                toServer +=
                    "APOP " + user + ' ' +
                    QCryptographicHash::hash(stamp + password, QCryptographicHash::Md5).toHex() +
                    "\r\n";
                awaited.append(ReplyKind::SingleLine);
            }
        } else {
            toServer += line;
            awaited.append(KindOf(text));
        }
        return true;
    }

    // The whole stream: lines up to LineLimit bytes, a longer one dropped up to its end.
    void Stream(QByteArrayView all) {
        qsizetype at = 0;
        for (;;) {
            const qsizetype lf = all.indexOf('\n', at);
            if (lf < 0) {
                return;
            }
            const QByteArrayView line = all.sliced(at, lf + 1 - at);
            at = lf + 1;
            if (line.size() <= LineLimit) {
                if (!Line(line)) {
                    return;
                }
            } else {
                saslMayFollow = false;
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView input(data, static_cast<qsizetype>(size));
    if (input.isEmpty()) {
        return 0;
    }
    const qsizetype greetingSize = qMin<qsizetype>(std::uint8_t(input[0]), input.size() - 1);
    const QByteArray greeting = input.sliced(1, greetingSize).toByteArray() + "\r\n";
    input = input.sliced(1 + greetingSize);

    Conversation conversation;
    conversation.Reset();
    const TaggingRulesSource rules = [] { return TaggingRules{}; };
    const GreetingLine::Step greeted = GreetingLine().Feed(greeting);
    conversation.Greeted(greeted.greeting);
    conversation.FromServer(greeted.rest, rules);
    Model model;
    model.greeting = greeting.first(greeting.indexOf('\n') + 1);
    Require(conversation.Login().greeting == model.greeting, "the greeting is its first line");

    QByteArray all;
    QByteArray toServer;
    QByteArray logged;
    while (!input.isEmpty()) {
        const qsizetype length = std::uint8_t(input[0]);
        input = input.sliced(1);
        const qsizetype taken = length == 0 ? input.size() : qMin(length, input.size());
        const QByteArray arrival = input.first(taken).toByteArray();
        input = input.sliced(taken);
        all += arrival;
        RelayOutput out = conversation.FromClient(arrival, true);
        // Nothing answers here: a QUIT goes on only when nothing was awaited before it.
        if (conversation.QuitMayGo()) {
            const RelayOutput released = conversation.ReleaseQuit(true);
            out.toServer += released.toServer;
            out.clientLog += released.clientLog;
        }
        toServer += out.toServer;
        logged += out.clientLog;
    }
    model.Stream(all);
    Require(toServer == model.toServer, "the server gets every other line as it came, in order");
    Require(conversation.Login().user == model.user &&
                conversation.Login().password == model.password,
            "USER and PASS hold the last values given");
    QList<ReplyKind> awaited = conversation.ExpectedReplies();
    awaited.removeAll(ReplyKind::Local);
    Require(awaited == model.awaited, "every line sent awaits its kind of reply, in order");
    for (const QByteArray& line : logged.split('\n')) {
        Require(!Keyword(line, "PASS") || line == QByteArray(MaskedPassLine) + '\r',
                "a PASS line is logged masked");
        Require(!Keyword(line, "AUTH") || (line.count(' ') <= 1 && line.count('\r') <= 1),
                "AUTH is logged without data");
    }
    return 0;
}
