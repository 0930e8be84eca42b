#include "relay/ClientCommand.h"

#include "platform/Lines.h"
#include "relay/Login.h"
#include "relay/RelayReplies.h"

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
        out.clientLog.append(line.first(pass)).append(MaskedPassLine).append(CrLf);
        return;
    }
    out.clientLog.append(line).append(CrLf);
}
} // namespace

ReplyKind KindOfReplyTo(QByteArrayView commandLine) {
    const qsizetype keywordEnd = KeywordEnd(commandLine);
    return KindOfReply(commandLine.first(keywordEnd),
                       commandLine.sliced(qMin(keywordEnd + 1, commandLine.size())));
}

void ClientStream::Reset() {
    pending.clear();
    discarding = false;
    saslMayFollow = false;
}

void ClientStream::Feed(const QByteArray& received, LoginState& login, ReplyStream& replies,
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
                Line(piece, login, replies, serverConnected, out);
            }
            continue;
        }
        pending.append(piece);
        if (pending.size() > LineLimit) {
            TooLong(replies, out);
            discarding = false;
        } else {
            Line(pending, login, replies, serverConnected, out);
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

void ClientStream::Line(QByteArrayView line, LoginState& login, ReplyStream& replies,
                        bool serverConnected, RelayOutput& out) {
    QByteArrayView text = line.chopped(1); // without its LF
    if (text.endsWith('\r')) {
        text.chop(1);
    }
    const qsizetype keywordEnd = KeywordEnd(text);
    const QByteArrayView keyword = text.first(keywordEnd);
    const QByteArrayView rest = text.sliced(qMin(keywordEnd + 1, text.size()));

    if (saslMayFollow) {
        saslMayFollow = false;
        if (!IsKnown(keyword)) {
            replies.Answer(AuthRefusedReply, out);
            return;
        }
    }
    if (Is(keyword, "USER")) {
        Log(out, text);
        login.user = Argument(rest).toByteArray();
        replies.Answer(UserReply, out);
    } else if (Is(keyword, "PASS")) {
        Log(out, MaskedPassLine);
        // Spaces are part of the password, leading and trailing ones too.
        login.password = rest.toByteArray();
        const LoginStep step = PassLogin(login, loginInsideTls, serverConnected);
        if (step.toServer.isEmpty()) {
            replies.Answer(step.localAnswer, out);
        } else {
            out.toServer.append(step.toServer);
            replies.Expect(step.awaited, out);
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
