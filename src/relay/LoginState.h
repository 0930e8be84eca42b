#pragma once

#include <QByteArray>

// What a conversation knows for the login. Wire texts stay bytes, as they came.
struct LoginState {
    QByteArray user;     // the user name the client gave
    QByteArray password; // the password the client gave
    QByteArray greeting; // the greeting line of the current server connection, with its CR LF
};
