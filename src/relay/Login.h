#pragma once

#include "relay/LoginState.h"
#include "relay/ReplyKind.h"

#include <QByteArray>

// How the client's PASS logs in at the server, all in one place. Outside TLS the password never
// crosses the network: PASS becomes APOP with the digest of the greeting's stamp and the
// password. Inside TLS the channel protects it, and many TLS-only servers refuse APOP, so the
// login is USER and PASS sent together; the client asked once (its PASS; its USER was answered
// locally) and gets one answer: the reply to PASS, or the reply to USER when that one failed.

struct LoginStep {
    QByteArray toServer; // the login command(s); empty when the relay answers itself
    ReplyKind awaited = ReplyKind::SingleLine;
    QByteArray localAnswer; // the relay's refusal, when nothing goes to the server
};
LoginStep PassLogin(const LoginState& login, bool insideTls, bool serverConnected);

// The RFC 1939 timestamp in a greeting: from the first "<" to the first ">" after it, both
// included. Empty when the greeting holds no complete stamp.
QByteArray ApopTimestamp(const QByteArray& greeting);
// The greeting as the client sees it when Quorlin logs in with USER and PASS: without that
// timestamp, so that the client does not try APOP itself (which many TLS-only servers refuse);
// the rest of the line as it came.
QByteArray WithoutTimestamp(const QByteArray& greeting);

QByteArray TlsLoginCommands(const QByteArray& user, const QByteArray& password);

// Takes the server's two login replies out of the stream, wherever the blocks split them.
class LoginReplyPair {
public:
    void Start();
    bool Active() const { return awaiting > 0; }

    struct Result {
        QByteArray toClient; // the one reply the client gets, when it is known
        QByteArray consumed; // the reply lines taken out, for the server log
        QByteArray rest;     // what follows the two replies: the normal stream again
    };
    Result Feed(const QByteArray& block);

private:
    int awaiting = 0;
    bool userFailed = false;
    QByteArray partial;
};
