#include "relay/ClientCommand.h"

#include "platform/Lines.h"
#include "relay/Login.h"
#include "relay/RelayReplies.h"

#include <cstring>
#include <utility>

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

// The first argument: from behind the keyword's space up to the next space or CR (a user name,
// a SASL mechanism; what follows a bare CR may be a credential). Not for PASS, whose one
// argument runs to the end of the line (RFC 1939).
QByteArrayView Argument(QByteArrayView rest) {
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\r') {
        ++end;
    }
    return rest.first(end);
}

// An AUTH line as the log shows it: keyword and mechanism only, as an initial response is a
// credential.
QByteArray ShownAuth(QByteArrayView keyword, QByteArrayView rest) {
    const QByteArrayView mechanism = Argument(rest);
    QByteArray shown = keyword.toByteArray();
    if (!mechanism.isEmpty()) {
        shown.append(' ').append(mechanism);
    }
    return shown;
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

// All that the start of TLS forgets, the login and a held QUIT as well.
void ClientStream::Reset() {
    heldFromQuit.clear();
    quitMayGo = false;
    TlsStarted();
    loginSent = false;
}

void ClientStream::TlsStarted() {
    pending.clear();
    discarding = false;
    saslMayFollow = false;
    sasl = SaslExchange();
    awaitingTls = false;
}

void ClientStream::SetRouting(AccountRouter accountRouter, std::optional<int> connected) {
    router = std::move(accountRouter);
    route = connected.value_or(0);
    ownGreeting = !connected;
    greetingShown = !ownGreeting;
    rerouting = loginOwed = false;
    heldInput.clear();
}

void ClientStream::Rerouted(LoginState& login, ReplyStream& replies, RelayOutput& out) {
    rerouting = false;
    ownGreeting = false;
    if (std::exchange(loginOwed, false)) {
        SendLogin(login, replies, true, out);
    }
    Feed(std::exchange(heldInput, {}), login, replies, true, out);
}

// A name that belongs to another account than the server connected now: that server is needed
// before the login, and nothing more of the client's is read until it has greeted.
void ClientStream::Route(const QByteArray& user, RelayOutput& out) {
    if (!router || loginSent) {
        return;
    }
    const int wanted = router(user);
    if (wanted == route) {
        return;
    }
    route = wanted;
    greetingShown = false;
    rerouting = true;
    out.reroute = wanted;
}

bool ClientStream::MayForwardApop() const {
    return !router || greetingShown;
}

void ClientStream::Feed(const QByteArray& received, LoginState& login, ReplyStream& replies,
                        bool serverConnected, RelayOutput& out) {
    // Bytes sent behind STLS, before the handshake, could be anyone's (RFC 2595): dropped.
    if (awaitingTls) {
        return;
    }
    if (HoldsQuit()) {
        heldFromQuit.append(received);
        return;
    }
    if (rerouting) {
        heldInput.append(received);
        return;
    }
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
        if (!pending.isEmpty()) {
            pending.append(piece);
        }
        const QByteArrayView line = pending.isEmpty() ? piece : QByteArrayView(pending);
        if (line.size() > LineLimit) {
            TooLong(replies, out);
            discarding = false;
        } else if (!Line(line, login, replies, serverConnected, out)) {
            heldFromQuit = line.toByteArray().append(received.sliced(at));
            pending.clear();
            return;
        }
        pending.clear();
        if (awaitingTls) {
            return;
        }
        if (rerouting) {
            heldInput.append(data + at, size - at);
            return;
        }
    }
}

void ClientStream::ReleaseQuit(LoginState& login, ReplyStream& replies, bool serverConnected,
                               RelayOutput& out) {
    quitMayGo = true;
    Feed(std::exchange(heldFromQuit, QByteArray()), login, replies, serverConnected, out);
    quitMayGo = false;
}

// Never forwarded, never logged: it could hold anything, a password included.
void ClientStream::TooLong(ReplyStream& replies, RelayOutput& out) {
    pending.clear();
    discarding = true;
    saslMayFollow = false;
    replies.Answer(LineTooLongReply, out);
}

bool ClientStream::Line(QByteArrayView line, LoginState& login, ReplyStream& replies,
                        bool serverConnected, RelayOutput& out) {
    QByteArrayView text = line.chopped(1); // without its LF
    if (text.endsWith('\r')) {
        text.chop(1);
    }
    if (sasl.AwaitingResponse()) {
        SaslStepTaken(sasl.Respond(text), login, replies, serverConnected, out);
        return true;
    }
    const qsizetype keywordEnd = KeywordEnd(text);
    const QByteArrayView keyword = text.first(keywordEnd);
    const QByteArrayView rest = text.sliced(qMin(keywordEnd + 1, text.size()));

    if (saslMayFollow) {
        saslMayFollow = false;
        if (!IsKnown(keyword)) {
            replies.Answer(AuthRefusedReply, out);
            return true;
        }
    }
    if (text.contains('\r')) {
        // A client that ends its lines with a bare CR sends several commands as one line: the
        // server would read them apart, a PASS among them in clear, and a name before a bare
        // CR would go into the APOP line. Refused whole, and logged as any line is (masked).
        Log(out, Is(keyword, "AUTH") ? ShownAuth(keyword, rest) : text.toByteArray());
        replies.Answer(LoneCrReply, out);
    } else if (Is(keyword, "USER")) {
        Log(out, text);
        login.user = Argument(rest).toByteArray();
        // An account's login name may hold spaces: then the whole argument is the name.
        if (router && rest.size() > login.user.size() && router(rest) != 0) {
            login.user = rest.toByteArray();
        }
        replies.Answer(UserReply, out);
        Route(login.user, out);
    } else if (Is(keyword, "PASS")) {
        Log(out, MaskedPassLine);
        // Spaces are part of the password, leading and trailing ones too.
        login.password = rest.toByteArray();
        SendLogin(login, replies, serverConnected, out);
    } else if (Is(keyword, "AUTH")) {
        if (channel.SaslAllowed()) {
            SaslStepTaken(sasl.Start(text), login, replies, serverConnected, out);
        } else {
            RefuseAuth(keyword, rest, replies, out);
        }
    } else if (Is(keyword, "STLS")) {
        Stls(text, replies, out);
    } else if (Is(keyword, "QUIT") && serverConnected && !std::exchange(quitMayGo, false)) {
        return false;
    } else if (Is(keyword, "APOP") && !MayForwardApop()) {
        Log(out, text);
        replies.Answer(ApopElsewhereReply, out);
    } else if (Is(keyword, "CAPA") && ownGreeting && !serverConnected) {
        Log(out, text);
        replies.Answer(OwnCapaStatus + QByteArray("USER\r\n") + OwnCapabilities() + ".\r\n", out);
    } else {
        Log(out, text);
        if (!serverConnected) {
            replies.Answer(ServerNotConnectedReply, out);
            return true;
        }
        out.toServer.append(line);
        const ReplyKind kind = KindOfReply(keyword, rest);
        if (Is(keyword, "APOP")) {
            replies.ExpectLogin(kind, out);
            loginSent = true;
        } else {
            replies.Expect(kind, out, kind == ReplyKind::Capa ? OwnCapabilities() : QByteArray());
        }
    }
    return true;
}

// Refused, as SASL would carry the password where it may not go.
void ClientStream::RefuseAuth(QByteArrayView keyword, QByteArrayView rest, ReplyStream& replies,
                              RelayOutput& out) {
    Log(out, ShownAuth(keyword, rest));
    replies.Answer(channel.canStartTls ? AuthNeedsTlsReply : AuthRefusedReply, out);
    saslMayFollow = !Argument(rest).isEmpty();
}

void ClientStream::Stls(QByteArrayView text, ReplyStream& replies, RelayOutput& out) {
    Log(out, text);
    if (!channel.canStartTls) {
        replies.Answer(StlsRefusedReply, out);
    } else if (channel.encrypted) {
        replies.Answer(StlsAgainReply, out);
    } else if (loginSent) {
        replies.Answer(StlsAfterLoginReply, out);
    } else {
        replies.AnswerBeforeTls(StlsAcceptedReply, out);
        awaitingTls = true;
        pending.clear();
    }
}

// The log shows the step's own line: the mechanism and the user name, nothing of the password.
void ClientStream::SaslStepTaken(const SaslStep& step, LoginState& login, ReplyStream& replies,
                                 bool serverConnected, RelayOutput& out) {
    out.clientLog.append(step.logLine).append(CrLf);
    if (!step.credentials) {
        replies.Answer(step.reply, out);
        return;
    }
    login.user = step.credentials->user;
    login.password = step.credentials->password;
    Route(login.user, out);
    if (rerouting) {
        loginOwed = true;
        return;
    }
    SendLogin(login, replies, serverConnected, out);
}

void ClientStream::SendLogin(const LoginState& login, ReplyStream& replies, bool serverConnected,
                             RelayOutput& out) {
    LoginState sent = login;
    if (!serverUser.isEmpty() && !login.user.isEmpty()) {
        sent.user = serverUser;
    }
    const LoginStep step = PassLogin(sent, loginInsideTls, serverConnected);
    if (step.toServer.isEmpty()) {
        replies.Answer(step.localAnswer, out);
        return;
    }
    out.toServer.append(step.toServer);
    replies.ExpectLogin(step.awaited, out);
    loginSent = true;
}

// Quorlin's own lines in the reply to CAPA, for what this client may do before its login.
QByteArray ClientStream::OwnCapabilities() const {
    QByteArray lines;
    if (loginSent) {
        return lines;
    }
    if (channel.canStartTls && !channel.encrypted) {
        lines.append("STLS").append(CrLf);
    }
    if (channel.SaslAllowed()) {
        lines.append(SaslCapabilityLine).append(CrLf);
    }
    return lines;
}
