#include "relay/TlsLogin.h"

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
