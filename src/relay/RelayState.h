#pragma once

#include <QByteArray>

// The relay's memory between events. Wire texts stay bytes, as they came.
struct RelayState {
    QByteArray Com;    // "RES" while the reply to a RETR is expected, otherwise empty
    bool AddB = false; // the greeting of the current server connection is in Greed
    QByteArray USER;   // the user name the client gave
    QByteArray PASS;   // the password the client gave
    QByteArray Greed;  // the greeting line of the current server connection, with its CR LF
};
