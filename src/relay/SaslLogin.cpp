#include "relay/SaslLogin.h"

#include <QList>

#include <algorithm>
#include <utility>

namespace {

constexpr char MechanismListReply[] = "+OK\r\nPLAIN\r\nLOGIN\r\n.\r\n";
// An empty challenge for PLAIN; LOGIN's base64 "Username:" and "Password:", the prompts that
// clients written for other servers expect to see.
constexpr char EmptyChallenge[] = "+ \r\n";
constexpr char UsernameChallenge[] = "+ VXNlcm5hbWU6\r\n";
constexpr char PasswordChallenge[] = "+ UGFzc3dvcmQ6\r\n";

constexpr char CancelledReply[] = "-ERR Authentication cancelled.\r\n";
constexpr char NotBase64Reply[] = "-ERR The response is not valid base64.\r\n";
constexpr char UnknownMechanismReply[] =
    "-ERR Unknown mechanism: Quorlin takes PLAIN and LOGIN.\r\n";
constexpr char MalformedPlainReply[] = "-ERR The PLAIN response is malformed.\r\n";
constexpr char OtherIdentityReply[] =
    "-ERR Quorlin logs in as the user only: leave the authorization identity empty.\r\n";
constexpr char UnusableUserReply[] =
    "-ERR The user name is empty or holds a space or a control character.\r\n";
constexpr char UnusablePasswordReply[] =
    "-ERR The password is empty or holds a control character.\r\n";

constexpr char Masked[] = "******";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first word of text, and what follows the blanks behind it.
std::pair<QByteArrayView, QByteArrayView> FirstWord(QByteArrayView text) {
    const auto wordEnd = std::find_if(text.begin(), text.end(), IsBlank);
    const auto restStart = std::find_if_not(wordEnd, text.end(), IsBlank);
    return {QByteArrayView(text.begin(), wordEnd), QByteArrayView(restStart, text.end())};
}

// Strict base64 (RFC 4648 with its padding), "=" standing for an empty response as RFC 5034
// has it for initial responses.
std::optional<QByteArray> DecodeResponse(QByteArrayView encoded) {
    encoded = encoded.trimmed();
    if (encoded == "=") {
        return QByteArray();
    }
    if (encoded.size() % 4 != 0) {
        return std::nullopt;
    }
    auto result = QByteArray::fromBase64Encoding(encoded.toByteArray(),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result) {
        return std::nullopt;
    }
    return std::move(result.decoded);
}

// The name goes into the server's APOP or USER line, the password into PASS inside TLS: a
// line break would start a command of the client's choosing there, and a space would cut the
// name.
bool HasControl(QByteArrayView bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

bool UsableUser(QByteArrayView user) {
    return !user.isEmpty() && !HasControl(user) && !user.contains(' ');
}

bool UsablePassword(QByteArrayView password) {
    return !password.isEmpty() && !HasControl(password);
}

QByteArray Joined(QByteArray before, QByteArrayView shown) {
    return before.isEmpty() ? shown.toByteArray() : before.append(' ').append(shown);
}

QByteArray ShownUser(QByteArrayView user) {
    return "(user " + user.toByteArray() + ')';
}

} // namespace

SaslStep SaslExchange::Start(QByteArrayView authLine) {
    const auto [keyword, arguments] = FirstWord(authLine);
    const auto [mechanism, initialResponse] = FirstWord(arguments);
    // Keyword and mechanism as the client wrote them; what follows is a credential.
    QByteArray shown = keyword.toByteArray();
    if (mechanism.isEmpty()) {
        return {MechanismListReply, shown, false, std::nullopt};
    }
    shown.append(' ').append(mechanism);
    const bool plain = mechanism.compare("PLAIN", Qt::CaseInsensitive) == 0;
    const bool login = mechanism.compare("LOGIN", Qt::CaseInsensitive) == 0;
    if (!plain && !login) {
        return Refuse(UnknownMechanismReply, shown);
    }
    if (!initialResponse.isEmpty()) {
        return plain ? PlainResponse(initialResponse, shown) : LoginUser(initialResponse, shown);
    }
    stage = plain ? Stage::PlainResponse : Stage::LoginUser;
    return {plain ? EmptyChallenge : UsernameChallenge, shown, true, std::nullopt};
}

SaslStep SaslExchange::Respond(QByteArrayView line) {
    if (line.trimmed() == "*") {
        return Refuse(CancelledReply, "*");
    }
    switch (stage) {
    case Stage::PlainResponse:
        return PlainResponse(line, {});
    case Stage::LoginUser:
        return LoginUser(line, {});
    case Stage::LoginPassword:
        return LoginPassword(line);
    case Stage::Idle:
        break;
    }
    // No exchange to go on with: whatever the line holds is not shown.
    return Refuse(CancelledReply, Masked);
}

// authzid NUL authcid NUL passwd (RFC 4616). The authorization identity may only name the user
// itself: Quorlin cannot log in to the server as anyone else.
SaslStep SaslExchange::PlainResponse(QByteArrayView encoded, QByteArray shownBefore) {
    const std::optional<QByteArray> message = DecodeResponse(encoded);
    if (!message) {
        return Refuse(NotBase64Reply, Joined(shownBefore, Masked));
    }
    const QList<QByteArray> parts = message->split('\0');
    if (parts.size() != 3) {
        return Refuse(MalformedPlainReply, Joined(shownBefore, Masked));
    }
    const QByteArray& identity = parts[0];
    const QByteArray& user = parts[1];
    const QByteArray& password = parts[2];
    if (!UsableUser(user)) {
        return Refuse(UnusableUserReply, Joined(shownBefore, Masked));
    }
    const QByteArray shown = Joined(shownBefore, "(user " + user + ", password " + Masked + ')');
    if (!identity.isEmpty() && identity != user) {
        return Refuse(OtherIdentityReply, shown);
    }
    if (!UsablePassword(password)) {
        return Refuse(UnusablePasswordReply, shown);
    }
    stage = Stage::Idle;
    return {{}, shown, false, SaslCredentials{user, password}};
}

SaslStep SaslExchange::LoginUser(QByteArrayView encoded, QByteArray shownBefore) {
    const std::optional<QByteArray> user = DecodeResponse(encoded);
    if (!user) {
        return Refuse(NotBase64Reply, Joined(shownBefore, Masked));
    }
    if (!UsableUser(*user)) {
        return Refuse(UnusableUserReply, Joined(shownBefore, Masked));
    }
    loginUser = *user;
    stage = Stage::LoginPassword;
    return {PasswordChallenge, Joined(shownBefore, ShownUser(*user)), true, std::nullopt};
}

SaslStep SaslExchange::LoginPassword(QByteArrayView encoded) {
    const QByteArray shown = QByteArray("(password ") + Masked + ')';
    const std::optional<QByteArray> password = DecodeResponse(encoded);
    if (!password) {
        return Refuse(NotBase64Reply, shown);
    }
    if (!UsablePassword(*password)) {
        return Refuse(UnusablePasswordReply, shown);
    }
    stage = Stage::Idle;
    return {{}, shown, false, SaslCredentials{std::exchange(loginUser, {}), *password}};
}

SaslStep SaslExchange::Refuse(const char* reply, QByteArray shown) {
    stage = Stage::Idle;
    loginUser.clear();
    return {reply, std::move(shown), false, std::nullopt};
}
