#include "relay/RelayReplies.h"

#include "platform/TlsTrust.h"

#include <QStringList>

#include <algorithm>

namespace {

bool IsPrintableAscii(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

} // namespace

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
