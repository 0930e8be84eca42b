#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// The mechanisms Quorlin takes in, as its CAPA line names them.
inline constexpr char SaslCapabilityLine[] = "SASL PLAIN LOGIN";

// A name and password a client gave through SASL, as they came off the wire.
struct SaslCredentials {
    QByteArray user;
    QByteArray password;
};

// What one client line of an AUTH exchange comes to.
struct SaslStep {
    // Quorlin's own answer, whole lines with CR LF. Empty when credentials came: the mail
    // server's answer to the login they make is the client's answer.
    QByteArray reply;
    // The client's line as the log shows it, without its line end: the mechanism and the user
    // name, never a password or anything base64 that might hold one.
    QByteArray logLine;
    bool awaitingResponse = false; // the client's next line belongs to this exchange
    std::optional<SaslCredentials> credentials;
};

// The server side of SASL PLAIN (RFC 4616) and LOGIN for POP3 (RFC 5034), without sockets: it
// is given the client's AUTH line and then each response line, and ends in the credentials or
// in the -ERR that RFC 5034 asks for (a cancel with "*", base64 that does not decode, an
// unknown mechanism), or for credentials that cannot be passed on to the server.
class SaslExchange {
public:
    // The whole AUTH command line without its line end, keyword and mechanism in any letter
    // case. AUTH alone lists the mechanisms (the older form some clients still send).
    SaslStep Start(QByteArrayView authLine);
    // A client line while the exchange awaits one, without its line end.
    SaslStep Respond(QByteArrayView line);
    bool AwaitingResponse() const { return stage != Stage::Idle; }

private:
    enum class Stage { Idle, PlainResponse, LoginUser, LoginPassword };

    SaslStep PlainResponse(QByteArrayView encoded, QByteArray shownBefore);
    SaslStep LoginUser(QByteArrayView encoded, QByteArray shownBefore);
    SaslStep LoginPassword(QByteArrayView encoded);
    SaslStep Refuse(const char* reply, QByteArray shown);

    Stage stage = Stage::Idle;
    QByteArray loginUser; // LOGIN's name, until its password comes
};
