#pragma once

#include <QByteArray>

// Inside TLS the channel protects the password, and many TLS-only servers refuse APOP, so the
// login is USER and PASS sent together. The client asked once (its PASS; its USER was answered
// locally) and gets one answer: the reply to PASS, or the reply to USER when that one failed.
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
