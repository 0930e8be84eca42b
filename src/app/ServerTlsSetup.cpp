#include "app/ServerTlsSetup.h"

#include "relay/Relay.h"
#include "settings/OptionsFile.h"

#include <QDir>

ServerTlsSetup ResolveServerTls(const AppOptions& options, const ServerSecurity& saved) {
    ServerTlsSetup setup;
    setup.security = saved;
    if (options.security) {
        setup.security.mode = *options.security;
        setup.security.port.reset();
    }
    if (options.serverPortGiven) {
        setup.security.port = options.serverPort;
    }
    setup.security.port = setup.security.EffectivePort();
    if (options.caFile) {
        setup.security.caFile = *options.caFile;
    }
    setup.runFingerprints = options.trustFingerprints;
    return setup;
}

bool ApplyServerTls(Relay& relay, const ServerTlsSetup& setup, QString* why) {
    ServerTlsSettings settings;
    settings.policy.mode = setup.security.mode;
    settings.policy.pinnedFingerprints = setup.runFingerprints;
    settings.trustedFor = [](const QString& host) { return LoadTrustedFingerprints(host); };
    bool ok = true;
    if (!setup.security.caFile.isEmpty()) {
        const auto authorities = LoadCaFile(setup.security.caFile, why);
        ok = authorities.has_value();
        settings.policy.extraAuthorities = authorities.value_or(QList<QSslCertificate>{});
    }
    relay.SetServerTls(settings);
    relay.SetServerPort(setup.security.EffectivePort());
    return ok;
}

QString ServerDescription(const QString& host, const ServerTlsSetup& setup) {
    return QStringLiteral("%1:%2 (%3)")
        .arg(host)
        .arg(setup.security.EffectivePort())
        .arg(SecurityModeDescription(setup.security.mode));
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
