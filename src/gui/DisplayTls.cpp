#include "gui/DisplayTls.h"

#include "app/ServerTlsSetup.h"
#include "gui/CertificateTrustDialog.h"
#include "gui/DesktopSession.h"
#include "gui/ServerSecurityBox.h"

#include <QPointer>
#include <QTextStream>

void InstallServerTls(DesktopSession& session, const AppOptions& options) {
    Shell::Display& display = session.Window();
    const ServerTlsSetup setup = ResolveServerTls(options, LoadServerSecurity());
    QString caProblem;
    if (!ApplyServerTls(session.RelayCore(), setup, &caProblem)) {
        QTextStream(stderr) << "quorlin: " << caProblem << "\n";
    }
    display.setWindowTitle(display.windowTitle() + SecurityCaptionSuffix(setup.security.mode));

    // One dialog at a time: a client that retries must not stack them up.
    auto dialog = std::make_shared<QPointer<CertificateTrustDialog>>();
    QObject::connect(&session.RelayCore(), &Relay::ServerTlsFailed, &display,
                     [&display, dialog](const TlsFailure& failure) {
                         QTextStream(stderr) << TlsFailureReport(failure) << "\n";
                         if (*dialog) {
                             return;
                         }
                         *dialog = new CertificateTrustDialog(failure, &display);
                         (*dialog)->setAttribute(Qt::WA_DeleteOnClose);
                         (*dialog)->setWindowFlag(Qt::Window);
                         (*dialog)->open();
                     });
}
