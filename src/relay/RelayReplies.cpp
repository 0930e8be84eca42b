#include "relay/RelayReplies.h"

#include "platform/TlsTrust.h"

#include <QStringList>

#include <algorithm>

namespace {

bool IsPrintableAscii(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

// The reason as it is, or general words in its place.
QByteArray AsciiOr(const QString& reason, const char* general) {
    return (reason.isEmpty() || !IsPrintableAscii(reason) ? QString::fromLatin1(general) : reason)
        .toLatin1();
}

} // namespace

QByteArray CannotConnectReply(const QString& reason) {
    return "-ERR Cannot connect to the mail server: " + AsciiOr(reason, "the connection failed") +
           ".\r\n";
}

QByteArray NoGreetingReply(const QString& reason) {
    return "-ERR The mail server sent no greeting: " + AsciiOr(reason, "none came") + ".\r\n";
}

QByteArray TlsRefusalReply(const QString& reason) {
    QStringList parts = reason.split(TlsReason::Separator);
    for (QString& part : parts) {
        if (part.isEmpty() || !IsPrintableAscii(part)) {
            part = QStringLiteral("the TLS handshake failed");
        }
    }
    parts.removeDuplicates();
    return "-ERR No secure connection to the mail server: " +
           parts.join(TlsReason::Separator).toLatin1() + ".\r\n";
}
