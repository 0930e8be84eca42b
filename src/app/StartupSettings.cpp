#include "app/StartupSettings.h"

#include "platform/ProgramFiles.h"
#include "settings/AccountsFile.h"
#include "settings/ClientLimits.h"
#include "settings/ClientTlsSetting.h"
#include "settings/ListenSetting.h"
#include "settings/OptionsFile.h"
#include "settings/ServerSecurity.h"
#include "settings/TaggingOptions.h"

#include <QDir>

#include <algorithm>

namespace {

ServerSecurity SecurityForRun(const AppOptions& options) {
    ServerSecurity security = LoadServerSecurity();
    if (options.security) {
        security.mode = *options.security;
        security.port.reset();
    }
    if (options.serverPort) {
        security.port = options.serverPort;
    }
    if (options.caFile) {
        security.caFile = *options.caFile;
    }
    return security;
}

// The file's accounts, those of the command line taking the place of one with the same login.
QList<Account> AccountsForRun(const AppOptions& options, StartupSettings& startup) {
    // Sections left out are reported with the rest of the options file (OptionsCheck).
    QList<Account> accounts = LoadAccounts().accounts;
    for (Account given : options.accounts) {
        if (!given.caFile.isEmpty()) {
            const CaFileRead authorities = ReadCaFile(given.caFile);
            if (authorities.problem) {
                startup.accountOptionProblem =
                    QStringLiteral("--account %1: %2")
                        .arg(given.login, EnglishWords(*authorities.problem));
                continue;
            }
            given.caCertificates = authorities.certificates;
        }
        const auto same =
            std::find_if(accounts.begin(), accounts.end(),
                         [&given](const Account& a) { return a.login == given.login; });
        if (same != accounts.end()) {
            *same = given;
        } else {
            accounts.append(given);
        }
    }
    return accounts;
}

ClientTlsSetting ClientTlsForRun(const AppOptions& options) {
    ClientTlsSetting setting = LoadClientTlsSetting();
    setting.enabled = options.clientTls.value_or(setting.enabled);
    setting.implicitPort = options.clientTlsPort.value_or(setting.implicitPort);
    if (options.clientCertificateFile) {
        setting.certificateFile = *options.clientCertificateFile;
        setting.keyFile = options.clientKeyFile.value_or(QString());
    }
    return setting;
}

} // namespace

StartupSettings LoadStartupSettings(const AppOptions& options) {
    if (options.configDir) {
        SetSettingsDirectory(*options.configDir);
    }
    StartupSettings startup;
    Settings& settings = startup.settings;

    const ListenSetting savedListen = LoadListenSetting();
    settings.listen.port = options.listenPort.value_or(savedListen.port);
    settings.listen.address = options.listenAddress.value_or(savedListen.address);

    const ClientLimits limits = ReadClientLimits();
    settings.maxClients =
        options.maxClients.value_or(limits.maxClients.value_or(DefaultMaxClients));
    const std::optional<int> idleSeconds =
        options.idleTimeoutSeconds ? options.idleTimeoutSeconds : limits.idleTimeoutSeconds;
    settings.idleTimeoutMs = idleSeconds ? *idleSeconds * 1000 : DefaultIdleTimeoutMs;

    Account& account = settings.DefaultAccount();
    if (options.server) {
        account.host = *options.server;
    }
    account.pinnedFingerprints = options.trustFingerprints;
    startup.caFileProblem = ApplyServerSecurity(SecurityForRun(options), account);
    settings.trustedCertificates = LoadTrustedCertificates();
    settings.accounts += AccountsForRun(options, startup);

    settings.clientTls = ClientTlsForRun(options);

    startup.newFolder = SettingsFolderIsNew();
    const TaggingOptions tagging = LoadTaggingOptions(startup.newFolder);
    settings.encodedWords = options.tagEncodedWords.value_or(tagging.encodedWords);
    settings.charsetHeader = tagging.charsetHeader;

    settings.log = LoadLogSetting();
    settings.log.file = options.logFile.value_or(settings.log.file);
    return startup;
}

void LoadClientCertificate(StartupSettings& startup) {
    Settings& settings = startup.settings;
    if (!settings.clientTls.enabled) {
        return;
    }
    const ClientIdentity loaded = LoadClientIdentity(settings.clientTls);
    settings.clientIdentity = loaded.identity;
    startup.clientCertificateRenewal = loaded.renewal;
    startup.clientTlsProblem = loaded.problem;
}

QString ServerDescription(const Account& account) {
    return QStringLiteral("%1:%2 (%3)")
        .arg(account.host)
        .arg(account.port)
        .arg(SecurityModeDescription(account.security));
}

QString AccountDescription(const Account& account, quint16 listeningPort) {
    QString description =
        QStringLiteral("account %1: %2").arg(account.login, ServerDescription(account));
    if (!account.serverUser.isEmpty()) {
        description += QStringLiteral(", as user %1").arg(account.serverUser);
    }
    if (listeningPort != 0) {
        description += QStringLiteral(", also every client on port %1").arg(listeningPort);
    }
    return description;
}

QString ListenDescription(const Settings& settings, quint16 port, quint16 tlsPort) {
    QString description = QStringLiteral("port %1").arg(port);
    if (settings.ClientTlsReady()) {
        description += QStringLiteral(" (STLS)");
    }
    if (tlsPort != 0) {
        description += QStringLiteral(", TLS port %1").arg(tlsPort);
    }
    return description;
}

QString TlsFailureReport(const TlsFailure& failure) {
    QString report = QStringLiteral("quorlin: ") + DescribeFailure(failure);
    if (!failure.certificate.isNull()) {
        const QString fingerprint = FormatFingerprint(CertificateFingerprint(failure.certificate));
        report += QStringLiteral("\n  If this is the mail server's own certificate, trust it with\n"
                                 "    --trust-fingerprint %1\n"
                                 "  or add it under [TrustedCertificates] in %2 as\n"
                                 "    %3=%1")
                      .arg(fingerprint, QDir::toNativeSeparators(OptionsFilePath()),
                           failure.host.toLower());
    }
    return report;
}
