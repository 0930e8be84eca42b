#include "app/ClientCertificateReport.h"

#include "app/StartupMessages.h"
#include "app/StartupSettings.h"
#include "platform/TrustInstructions.h"
#include "settings/ClientTlsSetting.h"

#include <QTextStream>

int PrintClientCertificate(const AppOptions& options) {
    StartupSettings startup = LoadStartupSettings(options);
    LoadClientCertificate(startup);
    const Settings& settings = startup.settings;
    // Switched off, the certificate is still what a user may want to see before switching on.
    ClientIdentity loaded{settings.clientIdentity, startup.clientCertificateRenewal,
                          startup.clientTlsProblem};
    if (!settings.clientTls.enabled) {
        loaded = LoadClientIdentity(settings.clientTls);
    }
    if (loaded.identity.IsNull()) {
        QTextStream(stderr) << "quorlin: no certificate for the mail clients: " << loaded.problem
                            << "\n";
        return 1;
    }
    const QString notice = RenewalNotice(loaded.renewal, loaded.identity.certificatePath);
    if (!notice.isEmpty()) {
        QTextStream(stderr) << "quorlin: " << notice << "\n";
    }
    QTextStream out(stdout);
    for (const QString& line :
         TrustInstructions(loaded.identity.certificatePath, loaded.identity.Certificate())) {
        out << line << "\n";
    }
    if (!settings.clientTls.enabled) {
        out << "TLS toward the mail clients is switched off (--client-tls off, or Enabled=false "
               "in [ClientTls] of Quorlin_Options.ini).\n";
    }
    return 0;
}
