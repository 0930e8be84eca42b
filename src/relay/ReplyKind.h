#pragma once

#include <QtGlobal>

// What the mail server is expected to send next, in the order of the commands that ask for it:
// the reply kind queue of a conversation.
enum class ReplyKind : quint8 {
    SingleLine, // a status line
    MultiLine,  // a status line and, after "+OK", lines up to the line "." alone
    Capa,       // as MultiLine, without the SASL and STLS capabilities
    Retr,       // as MultiLine, its beginning gathered for the blocked-charset tagging
    Local,      // no server reply: the relay's own answer, given in its turn
    LoginPair,  // the replies to USER and PASS sent together inside TLS, given as one
};

// Most bytes held of one line from the server, a greeting or a CAPA line (a POP3 reply line has
// at most 512).
inline constexpr qsizetype ReplyLineLimit = 8 * 1024;
