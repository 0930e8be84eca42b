#pragma once

#include "relay/LoginState.h"
#include "relay/RelayOutput.h"
#include "relay/ReplyStream.h"

#include <QByteArray>
#include <QByteArrayView>

// The mail client's side of one conversation, without sockets: the client's bytes are read as
// lines (ended by CR LF or a lone LF), whatever pieces they arrive in, and each line is one
// command, handled by its keyword in any letter case. USER is answered here, PASS becomes an
// APOP login, AUTH and STLS are refused here (the password goes nowhere in clear and the
// conversation stays readable to Quorlin), and every other line goes to the server as it came,
// its reply expected in the reply kind queue.
class ClientStream {
public:
    // POP3 commands have at most 255 octets; a line longer than this is refused and dropped.
    static constexpr qsizetype LineLimit = 8 * 1024;

    // A new client: nothing of an earlier one is held.
    void Reset();
    // Inside TLS the channel protects the password: PASS becomes USER and PASS, not APOP.
    void SetLoginInsideTls(bool on) { loginInsideTls = on; }
    // An arrival from the client. Replies of its own go through `replies`, in their turn.
    void Feed(const QByteArray& received, LoginState& login, ReplyStream& replies,
              bool serverConnected, RelayOutput& out);

private:
    void Line(QByteArrayView line, LoginState& login, ReplyStream& replies, bool serverConnected,
              RelayOutput& out);
    void TooLong(ReplyStream& replies, RelayOutput& out);

    QByteArray pending;         // an incomplete line, waiting for its end
    bool discarding = false;    // the rest of a line too long is dropped up to its end
    bool saslMayFollow = false; // the line before was a refused AUTH with a mechanism
    bool loginInsideTls = false;
};

// The kind of reply the server gives to a command line (without its line end) sent to it.
ReplyKind KindOfReplyTo(QByteArrayView commandLine);

inline constexpr char MaskedPassLine[] = "PASS ******";
