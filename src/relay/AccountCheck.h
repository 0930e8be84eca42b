#pragma once

#include <QDateTime>
#include <QString>

// How one client's mail check at an account's server went, for the account's last check.
struct AccountCheck {
    enum class Outcome {
        Done,         // logged in; what was retrieved and tagged below
        LoginRefused, // the server refused the login
        NoConnection, // the server could not be reached, or went away before its greeting
        NoTls,        // TLS to the server did not come about
    };
    QString login; // the account's login name; empty for the default account
    QDateTime when;
    Outcome outcome = Outcome::Done;
    QString reason; // NoConnection, NoTls: as the system gave it
    int retrieved = 0;
    int tagged = 0;
};
