#include "app/AccountOption.h"

#include "settings/ServerSecurity.h"

namespace {

using Parsed = Result<Account>;

std::optional<quint16> Port(const QString& text) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    return ok && port >= 1 && port <= 65535 ? std::optional(static_cast<quint16>(port))
                                            : std::nullopt;
}

// "host", "host:port", "[v6]", "[v6]:port"; a bare IPv6 address has no port.
bool SplitHostPort(const QString& text, Account& account, std::optional<quint16>& port) {
    QString host = text;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return false;
        }
        host = text.first(close + 1);
        const QString rest = text.sliced(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                return false;
            }
            portText = rest.sliced(1);
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        host = text.first(colon);
        portText = text.sliced(colon + 1);
    }
    if (host.isEmpty() || host == QStringLiteral("[]")) {
        return false;
    }
    account.host = host;
    if (!portText.isNull()) {
        port = Port(portText);
        return port.has_value();
    }
    return true;
}

} // namespace

Result<Account> ParseAccountOption(const QString& text) {
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    const QString head = comma < 0 ? text : text.first(comma);
    const qsizetype equals = head.lastIndexOf(QLatin1Char('='));
    if (equals <= 0) {
        return Parsed::Failure(QStringLiteral("it needs LOGIN=HOST"));
    }
    Account account;
    account.login = head.first(equals);
    std::optional<quint16> port;
    if (!SplitHostPort(head.sliced(equals + 1).trimmed(), account, port)) {
        return Parsed::Failure(QStringLiteral("\"%1\" is no HOST or HOST:PORT (port from 1 to "
                                              "65535)")
                                   .arg(head.sliced(equals + 1)));
    }
    const QStringList settings =
        comma < 0 ? QStringList() : text.sliced(comma + 1).split(QLatin1Char(','));
    for (const QString& setting : settings) {
        const qsizetype is = setting.indexOf(QLatin1Char('='));
        const QString key = setting.first(qMax<qsizetype>(is, 0)).trimmed().toLower();
        const QString value = is < 0 ? QString() : setting.sliced(is + 1);
        if (key == QLatin1String("security")) {
            const std::optional<SecurityMode> mode = ParseSecurityMode(value);
            if (!mode) {
                return Parsed::Failure(
                    QStringLiteral("security needs none, tls or starttls, not \"%1\"").arg(value));
            }
            account.security = *mode;
        } else if (key == QLatin1String("ca") && !value.isEmpty()) {
            account.caFile = value;
        } else if (key == QLatin1String("pin")) {
            FingerprintProblem why;
            const std::optional<QByteArray> pin = ParseFingerprint(value, &why);
            if (!pin) {
                return Parsed::Failure(
                    QStringLiteral("pin \"%1\": %2").arg(value, EnglishWords(why)));
            }
            account.pinnedFingerprints.append(*pin);
        } else if (key == QLatin1String("user") && !value.isEmpty()) {
            account.serverUser = value;
        } else if (key == QLatin1String("listen")) {
            const std::optional<quint16> listen = Port(value);
            if (!listen) {
                return Parsed::Failure(
                    QStringLiteral("listen needs a port from 1 to 65535, not \"%1\"").arg(value));
            }
            account.listenPort = *listen;
        } else {
            return Parsed::Failure(QStringLiteral("\"%1\" is none of security=, ca=, pin=, user=, "
                                                  "listen=")
                                       .arg(setting));
        }
    }
    account.port = port.value_or(DefaultServerPort(account.security));
    return account;
}
