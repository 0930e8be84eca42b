#include "settings/AccountsFile.h"

#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSecurity.h"
#include "settings/Settings.h"

#include <algorithm>

namespace {

const QString SectionPrefix = QStringLiteral("Account");
const QString LoginKey = QStringLiteral("Login");
const QString HostKey = QStringLiteral("Host");
const QString SecurityKey = QStringLiteral("Security");
const QString PortKey = QStringLiteral("Port");
const QString CaFileKey = QStringLiteral("CaFile");
const QString ServerUserKey = QStringLiteral("ServerUser");
const QString ListenPortKey = QStringLiteral("ListenPort");

// [Account2] before [Account10]; sections named otherwise ([AccountWork]) after them.
bool SectionBefore(const QString& a, const QString& b) {
    bool aNumbered = false;
    bool bNumbered = false;
    const int aNumber = a.mid(SectionPrefix.size()).toInt(&aNumbered);
    const int bNumber = b.mid(SectionPrefix.size()).toInt(&bNumbered);
    if (aNumbered != bNumbered) {
        return aNumbered;
    }
    return aNumbered ? aNumber < bNumber : a < b;
}

QStringList AccountSections(const QSettings& file) {
    QStringList sections;
    for (const QString& group : file.childGroups()) {
        if (group.startsWith(SectionPrefix, Qt::CaseInsensitive)) {
            sections.append(group);
        }
    }
    std::sort(sections.begin(), sections.end(), SectionBefore);
    return sections;
}

// The account of one section, or why it cannot be used.
std::optional<Account> ReadAccount(QSettings& file, QStringList& problems) {
    const QString section = file.group();
    const auto problem = [&](const QString& key, const QString& why) {
        problems.append(QStringLiteral("[%1] %2: %3").arg(section, key, why));
    };
    Account account;
    account.login = OptionText(file, LoginKey);
    account.host = OptionText(file, HostKey).trimmed();
    if (account.login.isEmpty()) {
        problem(LoginKey, QStringLiteral("no login name"));
        return std::nullopt;
    }
    if (account.host.isEmpty()) {
        problem(HostKey, QStringLiteral("no host"));
        return std::nullopt;
    }
    const QString security = OptionText(file, SecurityKey);
    if (!security.trimmed().isEmpty()) {
        const std::optional<SecurityMode> mode = ParseSecurityMode(security);
        if (!mode) {
            // Never plain text in place of a mode the user asked for.
            problem(SecurityKey, QStringLiteral("not none, tls or starttls"));
            return std::nullopt;
        }
        account.security = *mode;
    }
    account.port = DefaultServerPort(account.security);
    for (const auto& [key, target] :
         {std::pair{PortKey, &account.port}, std::pair{ListenPortKey, &account.listenPort}}) {
        const QString text = OptionText(file, key);
        if (text.trimmed().isEmpty()) {
            continue;
        }
        const std::optional<quint16> port = ParsePortValue(text);
        if (!port) {
            problem(key, QStringLiteral("not a port (1 to 65535)"));
            return std::nullopt;
        }
        *target = *port;
    }
    account.serverUser = OptionText(file, ServerUserKey);
    account.caFile = OptionText(file, CaFileKey).trimmed();
    if (!account.caFile.isEmpty()) {
        const CaFileRead authorities = ReadCaFile(account.caFile);
        account.caCertificates = authorities.certificates;
        if (authorities.problem) {
            problem(CaFileKey, EnglishWords(*authorities.problem));
        }
    }
    return account;
}

} // namespace

AccountsRead LoadAccounts() {
    AccountsRead read;
    const auto file = OpenOptionsFile();
    for (const QString& section : AccountSections(*file)) {
        file->beginGroup(section);
        std::optional<Account> account = ReadAccount(*file, read.problems);
        file->endGroup();
        if (!account) {
            continue;
        }
        const bool taken = std::any_of(
            read.accounts.cbegin(), read.accounts.cend(),
            [&account](const Account& earlier) { return earlier.login == account->login; });
        if (taken) {
            read.problems.append(QStringLiteral("[%1] %2: the login name %3 is taken by an "
                                                "earlier section")
                                     .arg(section, LoginKey, account->login));
            continue;
        }
        read.accounts.append(*account);
    }
    return read;
}

Result<> SaveAccounts(const QList<Account>& accounts) {
    return EditOptionsFile([&accounts](QSettings& file) {
        for (const QString& section : AccountSections(file)) {
            file.remove(section);
        }
        int number = 0;
        for (const Account& account : accounts) {
            file.beginGroup(SectionPrefix + QString::number(++number));
            file.setValue(LoginKey, account.login);
            file.setValue(HostKey, account.host);
            file.setValue(SecurityKey, SecurityModeName(account.security));
            file.setValue(PortKey, account.port);
            const auto setIfAny = [&file](const QString& key, const QString& value) {
                if (!value.isEmpty()) {
                    file.setValue(key, value);
                }
            };
            setIfAny(CaFileKey, account.caFile);
            setIfAny(ServerUserKey, account.serverUser);
            setIfAny(ListenPortKey,
                     account.listenPort == 0 ? QString() : QString::number(account.listenPort));
            file.endGroup();
        }
    });
}
