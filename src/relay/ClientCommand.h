#pragma once

#include "relay/RelayState.h"

#include <QByteArray>
#include <QList>

// What one client command turns into: the lines for List2 (the password line already masked),
// a reply the relay gives the client itself, and the bytes for the mail server.
struct ClientStep {
    QList<QByteArray> logLines;
    QByteArray toClient;
    QByteArray toServer;
    bool login = false; // the PASS that logs in; inside TLS it becomes USER and PASS
};

// Handles one arrival from the mail client: sets Com, answers USER locally, turns PASS into an
// APOP login, and passes everything else on as it came. An arrival that starts with USER or PASS
// and carries further lines is split after that first line, and the rest is handled as if it
// had arrived on its own; so one arrival can give several steps, in order.
QList<ClientStep> HandleClientArrival(RelayState& state, const QByteArray& received);

// The RFC 1939 timestamp in a greeting: from the first "<" to the first ">" after it, both
// included. Empty when the greeting holds no complete stamp.
QByteArray ApopTimestamp(const QByteArray& greeting);

// Replies the relay gives the client itself.
inline constexpr char UserReply[] = "+OK Password required.\r\n";
inline constexpr char NoTimestampReply[] =
    "-ERR APOP is not available: the mail server sent no timestamp.\r\n";
inline constexpr char MaskedPassLine[] = "PASS ******";
