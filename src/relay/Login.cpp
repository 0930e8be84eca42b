#include "relay/Login.h"

#include "digest/MD5Hash.h"
#include "relay/RelayReplies.h"

LoginStep PassLogin(const LoginState& login, bool insideTls, bool serverConnected) {
    if (login.user.isEmpty()) {
        // No name from this client: logging in under none (or anyone's) would be wrong.
        return {{}, ReplyKind::Local, NoUserReply};
    }
    if (insideTls) {
        if (!serverConnected) {
            return {{}, ReplyKind::Local, ServerNotConnectedReply};
        }
        return {TlsLoginCommands(login.user, login.password), ReplyKind::LoginPair, {}};
    }
    const QByteArray timestamp = ApopTimestamp(login.greeting);
    if (timestamp.isEmpty()) {
        // Without a stamp there is no APOP, and the password must not go out in clear.
        return {{}, ReplyKind::Local, NoTimestampReply};
    }
    if (!serverConnected) {
        return {{}, ReplyKind::Local, ServerNotConnectedReply};
    }
    return {"APOP " + login.user + ' ' + DigestBytes(timestamp + login.password).toLatin1() +
                "\r\n",
            ReplyKind::SingleLine,
            {}};
}

namespace {

// Where the timestamp is in a greeting: its first byte and its size; size 0 when there is none.
struct TimestampPlace {
    qsizetype from = 0;
    qsizetype size = 0;
};

TimestampPlace FindTimestamp(const QByteArray& greeting) {
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = open < 0 ? -1 : greeting.indexOf('>', open + 1);
    if (close < 0) {
        return {};
    }
    return {open, close - open + 1};
}

} // namespace

QByteArray ApopTimestamp(const QByteArray& greeting) {
    const TimestampPlace place = FindTimestamp(greeting);
    return greeting.mid(place.from, place.size);
}

QByteArray WithoutTimestamp(const QByteArray& greeting) {
    const TimestampPlace place = FindTimestamp(greeting);
    return place.size == 0 ? greeting : QByteArray(greeting).remove(place.from, place.size);
}

QByteArray TlsLoginCommands(const QByteArray& user, const QByteArray& password) {
    return "USER " + user + "\r\nPASS " + password + "\r\n";
}

void LoginReplyPair::Start() {
    awaiting = 2;
    userFailed = false;
    partial.clear();
}

LoginReplyPair::Result LoginReplyPair::Feed(const QByteArray& block) {
    Result result;
    if (!Active()) {
        result.rest = block;
        return result;
    }
    partial += block;
    qsizetype start = 0;
    while (Active()) {
        const qsizetype end = partial.indexOf("\r\n", start);
        if (end < 0) {
            break;
        }
        const QByteArray line = partial.mid(start, end + 2 - start);
        start = end + 2;
        result.consumed += line;
        if (awaiting == 2) {
            userFailed = !line.startsWith("+OK");
            if (userFailed) {
                result.toClient = line;
            }
        } else if (!userFailed) {
            result.toClient = line;
        }
        --awaiting;
    }
    if (Active()) {
        partial.remove(0, start);
    } else {
        result.rest = partial.mid(start);
        partial.clear();
    }
    return result;
}
