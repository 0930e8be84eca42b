#include "relay/ClientCommand.h"

#include "digest/MD5Hash.h"
#include "relay/Pieces.h"
#include "relay/TlsLogin.h"

#include <cstring>

namespace {

// Keywords Quorlin knows; after a refused AUTH, a line that starts with none of them is taken
// for the SASL data a client sends next, which must not reach the server or the log.
constexpr QByteArrayView KnownKeywords[] = {"USER", "PASS", "APOP", "AUTH", "STLS", "CAPA",
                                            "QUIT", "STAT", "LIST", "RETR", "DELE", "NOOP",
                                            "RSET", "TOP",  "UIDL", "LANG", "UTF8"};

bool Is(QByteArrayView keyword, QByteArrayView name) {
    return keyword.compare(name, Qt::CaseInsensitive) == 0;
}

bool IsKnown(QByteArrayView keyword) {
    for (const QByteArrayView name : KnownKeywords) {
        if (Is(keyword, name)) {
            return true;
        }
    }
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first argument: from behind the keyword's space up to the next space (a user name, a SASL
// mechanism). Not for PASS, whose one argument runs to the end of the line (RFC 1939).
QByteArrayView Argument(QByteArrayView rest) {
    const qsizetype space = rest.indexOf(' ');
    return space < 0 ? rest : rest.first(space);
}

bool HasArguments(QByteArrayView rest) {
    for (const char c : rest) {
        if (!IsBlank(c)) {
            return true;
        }
    }
    return false;
}

// The kind of reply the server gives a command that Quorlin passes on.
ReplyKind KindOfReply(QByteArrayView keyword, QByteArrayView rest) {
    if (Is(keyword, "RETR")) {
        return ReplyKind::Retr;
    }
    if (Is(keyword, "CAPA")) {
        return ReplyKind::Capa;
    }
    if (Is(keyword, "TOP") ||
        ((Is(keyword, "LIST") || Is(keyword, "UIDL") || Is(keyword, "LANG")) &&
         !HasArguments(rest))) {
        return ReplyKind::MultiLine;
    }
    return ReplyKind::SingleLine;
}

// The keyword: the text up to the first space or tab.
qsizetype KeywordEnd(QByteArrayView text) {
    qsizetype end = 0;
    while (end < text.size() && !IsBlank(text[end])) {
        ++end;
    }
    return end;
}

bool IsWordByte(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

// Where a PASS begins, at the start or behind a separator inside the line, or -1. A client that
// ends its lines with a bare CR sends "USER alice<CR>PASS secret" as one line; whatever the
// separator, the password must not reach the log.
qsizetype PassInside(QByteArrayView text) {
    constexpr QByteArrayView Pass = "PASS";
    for (qsizetype at = 0; at + Pass.size() <= text.size(); ++at) {
        if ((at == 0 || !IsWordByte(text[at - 1])) && (text[at] | 0x20) == 'p' &&
            text.sliced(at, Pass.size()).compare(Pass, Qt::CaseInsensitive) == 0) {
            return at;
        }
    }
    return -1;
}

void Log(RelayOutput& out, QByteArrayView line) {
    const qsizetype pass = PassInside(line);
    if (pass >= 0) {
        out.list2.append(line.first(pass)).append(MaskedPassLine).append(CrLf);
        return;
    }
    out.list2.append(line).append(CrLf);
}
} // namespace

ReplyKind KindOfReplyTo(QByteArrayView commandLine) {
    const qsizetype keywordEnd = KeywordEnd(commandLine);
    return KindOfReply(commandLine.first(keywordEnd),
                       commandLine.sliced(qMin(keywordEnd + 1, commandLine.size())));
}

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

void ClientStream::Reset() {
    pending.clear();
    discarding = false;
    saslMayFollow = false;
}

void ClientStream::Feed(const QByteArray& received, RelayState& state, ReplyStream& replies,
                        bool serverConnected, RelayOutput& out) {
    const char* const data = received.constData();
    const qsizetype size = received.size();
    qsizetype at = 0;
    while (at < size) {
        const auto* lf = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        if (!lf) {
            if (!discarding) {
                pending.append(data + at, size - at);
                if (pending.size() > LineLimit) {
                    TooLong(replies, out);
                }
            }
            return;
        }
        const qsizetype end = lf - data + 1;
        const QByteArrayView piece(data + at, end - at);
        at = end;
        if (discarding) {
            discarding = false;
            continue;
        }
        if (pending.isEmpty()) {
            if (piece.size() > LineLimit) {
                TooLong(replies, out);
                discarding = false;
            } else {
                Line(piece, state, replies, serverConnected, out);
            }
            continue;
        }
        pending.append(piece);
        if (pending.size() > LineLimit) {
            TooLong(replies, out);
            discarding = false;
        } else {
            Line(pending, state, replies, serverConnected, out);
        }
        pending.clear();
    }
}

// Never forwarded, never logged: it could hold anything, a password included.
void ClientStream::TooLong(ReplyStream& replies, RelayOutput& out) {
    pending.clear();
    discarding = true;
    saslMayFollow = false;
    replies.Answer(LineTooLongReply, out);
}

void ClientStream::Line(QByteArrayView line, RelayState& state, ReplyStream& replies,
                        bool serverConnected, RelayOutput& out) {
    QByteArrayView text = line.chopped(1); // without its LF
    if (text.endsWith('\r')) {
        text.chop(1);
    }
    const qsizetype keywordEnd = KeywordEnd(text);
    const QByteArrayView keyword = text.first(keywordEnd);
    const QByteArrayView rest = text.sliced(qMin(keywordEnd + 1, text.size()));
    state.Com = Is(keyword, "RETR") ? QByteArray("RES") : QByteArray();

    if (saslMayFollow) {
        saslMayFollow = false;
        if (!IsKnown(keyword)) {
            replies.Answer(AuthRefusedReply, out);
            return;
        }
    }
    if (Is(keyword, "USER")) {
        Log(out, text);
        state.USER = Argument(rest).toByteArray();
        replies.Answer(UserReply, out);
    } else if (Is(keyword, "PASS")) {
        Log(out, MaskedPassLine);
        // Spaces are part of the password, leading and trailing ones too.
        state.PASS = rest.toByteArray();
        const QByteArray timestamp = ApopTimestamp(state.Greed);
        if (state.USER.isEmpty()) {
            // No name from this client: logging in under none (or anyone's) would be wrong.
            replies.Answer(NoUserReply, out);
        } else if (loginInsideTls) {
            if (!serverConnected) {
                replies.Answer(ServerNotConnectedReply, out);
                return;
            }
            out.toServer.append(TlsLoginCommands(state.USER, state.PASS));
            replies.Expect(ReplyKind::LoginPair, out);
        } else if (timestamp.isEmpty()) {
            // Without a stamp there is no APOP, and the password must not go out in clear.
            replies.Answer(NoTimestampReply, out);
        } else if (!serverConnected) {
            replies.Answer(ServerNotConnectedReply, out);
        } else {
            out.toServer.append("APOP " + state.USER + ' ' +
                                DigestBytes(timestamp + state.PASS).toLatin1() + "\r\n");
            replies.Expect(ReplyKind::SingleLine, out);
        }
    } else if (Is(keyword, "AUTH")) {
        // Keyword and mechanism only: an initial response is a credential.
        const QByteArrayView mechanism = Argument(rest);
        QByteArray shown = keyword.toByteArray();
        if (!mechanism.isEmpty()) {
            shown.append(' ').append(mechanism);
        }
        Log(out, shown);
        replies.Answer(AuthRefusedReply, out);
        saslMayFollow = !mechanism.isEmpty();
    } else if (Is(keyword, "STLS")) {
        Log(out, text);
        replies.Answer(StlsRefusedReply, out);
    } else {
        Log(out, text);
        if (!serverConnected) {
            replies.Answer(ServerNotConnectedReply, out);
            return;
        }
        out.toServer.append(line);
        replies.Expect(KindOfReply(keyword, rest), out);
    }
}
