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

using Why = UnusableSetting::Why;

// Where the problem is, for the user to mend: the section, and the key's line when it has one.
UnusableSetting Problem(const QString& section, const QString& key, Why why) {
    UnusableSetting problem;
    problem.why = why;
    const OptionsFileLine line =
        key.isEmpty() ? OptionsFileLine{} : FindOptionsFileLine(section, key);
    problem.line = line.number;
    problem.entry = QStringLiteral("[%1]").arg(section);
    if (line.number > 0) {
        problem.entry += QLatin1Char(' ') + line.text;
    }
    return problem;
}

// The account of one section, or why it cannot be used.
std::optional<Account> ReadAccount(QSettings& file, QList<UnusableSetting>& problems) {
    const QString section = file.group();
    const auto problem = [&](const QString& key, Why why) {
        problems.append(Problem(section, key, why));
    };
    Account account;
    account.login = OptionText(file, LoginKey);
    account.host = OptionText(file, HostKey).trimmed();
    if (account.login.isEmpty()) {
        problem({}, Why::NoLoginName);
        return std::nullopt;
    }
    if (account.host.isEmpty()) {
        problem({}, Why::NoHost);
        return std::nullopt;
    }
    const QString security = OptionText(file, SecurityKey);
    if (!security.trimmed().isEmpty()) {
        const std::optional<SecurityMode> mode = ParseSecurityMode(security);
        if (!mode) {
            // Never plain text in place of a mode the user asked for.
            problem(SecurityKey, Why::AccountNoMode);
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
            problem(key, Why::NotAPort);
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
            problem(CaFileKey, Why::UnreadableCaFile);
            problems.last().systemReason = authorities.problem->systemReason;
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
            read.problems.append(Problem(section, LoginKey, Why::LoginTaken));
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
