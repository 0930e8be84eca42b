#pragma once

#include "relay/ReplyKind.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The plain-text start of a connection that is to become TLS (RFC 2595): wait for the greeting,
// ask CAPA, and when STLS is offered (or CAPA is not understood) send STLS; its "+OK" means the
// handshake may start. Anything else ends it: there is no falling back to a plain login.
// Fed the server's blocks as they come; cut into lines here, so blocks may split lines anywhere.
class StlsNegotiation {
public:
    enum class Step {
        Wait,         // nothing to do until more arrives
        SendToServer, // send bytes, then wait
        StartTls,     // the server agreed: start the handshake now
        Refused,      // give up; reason says why
    };
    struct Action {
        Step step = Step::Wait;
        QByteArray bytes;
        QString reason;
        QList<QByteArray> serverLines; // the complete lines consumed, for the server log
    };

    Action Feed(const QByteArray& block);

    // The greeting line with its CR LF, once it has come.
    QByteArray Greeting() const { return greeting; }
    // What the exchange waits for from the server, in words: "no greeting", "no reply to CAPA"...
    QString Awaited() const;

    // Most bytes held of a line not ended yet.
    static constexpr qsizetype LineLimit = ReplyLineLimit;
    static constexpr char CapaCommand[] = "CAPA\r\n";
    static constexpr char StlsCommand[] = "STLS\r\n";

private:
    enum class Phase { Greeting, CapaStatus, CapaLines, StlsReply, Done };

    void HandleLine(const QByteArray& line, Action& action);
    void SendStls(Action& action);

    Phase phase = Phase::Greeting;
    QByteArray pending;
    QByteArray greeting;
    bool stlsOffered = false;
};
