#pragma once

#include <QByteArray>
#include <QString>

// The replies the relay gives a mail client itself, each a whole line with its CR LF.
inline constexpr char UserReply[] = "+OK Password required.\r\n";
inline constexpr char NoUserReply[] = "-ERR Give USER with your name before PASS.\r\n";
inline constexpr char NoTimestampReply[] =
    "-ERR APOP is not available: the mail server sent no timestamp.\r\n";
inline constexpr char AuthRefusedReply[] =
    "-ERR Quorlin does not pass AUTH on: log in with the plain password login (USER and PASS), "
    "which it turns into APOP.\r\n";
// Where the channel allows neither SASL nor STLS yet: TLS first.
inline constexpr char AuthNeedsTlsReply[] =
    "-ERR Quorlin takes AUTH from another machine only inside TLS: send STLS first.\r\n";
// RFC 2595's answers to STLS: the handshake follows the "+OK".
inline constexpr char StlsAcceptedReply[] = "+OK Begin TLS negotiation now.\r\n";
inline constexpr char StlsAgainReply[] = "-ERR TLS is on already.\r\n";
inline constexpr char StlsAfterLoginReply[] = "-ERR STLS is taken only before the login.\r\n";
inline constexpr char StlsRefusedReply[] =
    "-ERR Quorlin does not pass STLS on: switch STARTTLS off in the mail client and log in with "
    "the plain password login (USER and PASS).\r\n";
inline constexpr char LineTooLongReply[] = "-ERR Command line too long.\r\n";
inline constexpr char LoneCrReply[] = "-ERR Command line holds a CR that ends no line.\r\n";
inline constexpr char ServerNotConnectedReply[] = "-ERR The mail server is not connected.\r\n";
// An APOP whose digest was made with a stamp no server connected now knows.
inline constexpr char ApopElsewhereReply[] =
    "-ERR APOP fits only the greeting's own server: log in with USER and PASS.\r\n";
// CAPA while no server is connected because Quorlin greeted the client itself.
inline constexpr char OwnCapaStatus[] = "+OK Capability list follows.\r\n";

// The greeting Quorlin gives when no default server is set, so that the login name can pick
// the account first. Its stamp follows RFC 1939's form and is never used toward a server.
inline QByteArray OwnGreeting(const QByteArray& stamp) {
    return "+OK Quorlin ready " + stamp + "\r\n";
}

// Instead of a greeting, each in the words of the step toward the mail server that failed. The
// line stays printable ASCII whatever the reason: a reason in the user's language (the system's,
// where Qt's translation is loaded for the window) gives way to general words.
QByteArray CannotConnectReply(const QString& reason);
QByteArray NoGreetingReply(const QString& reason);
QByteArray TlsRefusalReply(const QString& reason);

// To a client past the limit of clients served at once, before it is let go.
inline QByteArray TooManyClientsReply(int maxClients) {
    return "-ERR Quorlin is serving " + QByteArray::number(maxClients) +
           " mail clients at once, the most it takes; try again later.\r\n";
}
