#pragma once

#include "relay/ReplyKind.h"

#include <QByteArray>

// The first line a mail server sends, gathered whole however the network cuts it: nothing of it
// goes on before its line is here, so the client and the APOP login see the same stamp. A line
// longer than the limit is taken as far as the limit; the rest of it is the server's next bytes.
class GreetingLine {
public:
    static constexpr qsizetype Limit = ReplyLineLimit;

    struct Step {
        bool complete = false;
        QByteArray greeting; // once complete: the line with its line end, or its first Limit bytes
        QByteArray rest;     // once complete: the bytes behind it in this block
    };
    Step Feed(const QByteArray& block);
    void Reset() { held.clear(); }

private:
    QByteArray held;
};
