#include "gui/DisplayTls.h"

#include "app/StartupSettings.h"
#include "gui/CertificateTrustDialog.h"
#include "gui/DesktopSession.h"
#include "gui/ServerSecurityBox.h"
#include "gui/TlsFailureText.h"
#include "settings/ServerSecurity.h"

#include <QPointer>
#include <QTextStream>

void InstallServerTls(DesktopSession& session) {
    Shell::Display& display = session.Window();
    Settings& settings = session.CurrentSettings();
    display.setWindowTitle(display.windowTitle() +
                           SecurityCaptionSuffix(settings.DefaultAccount().security));

    // One dialog at a time: a client that retries must not stack them up.
    auto dialog = std::make_shared<QPointer<CertificateTrustDialog>>();
    QObject::connect(
        &session.RelayCore(), &Relay::ServerTlsFailed, &display,
        [&display, &settings, dialog](const TlsFailure& failure) {
            QTextStream(stderr) << TlsFailureReport(failure) << "\n";
            display.LogNote(TlsRefusalMessage(failure));
            // A fingerprint added to the options file by hand since counts from the next
            // connection on, as one trusted in the dialog does.
            settings.trustedCertificates = LoadTrustedCertificates();
            if (*dialog) {
                return;
            }
            *dialog = new CertificateTrustDialog(failure, &display);
            (*dialog)->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(
                *dialog, &CertificateTrustDialog::Trusted, &display,
                [&settings](const QString& host, const QByteArray& fingerprint) {
                    settings.trustedCertificates[Settings::TrustedCertificatesKey(host)].append(
                        fingerprint);
                });
            // Not modal: Qt gives a modal window the keyboard.
            (*dialog)->show();
        });
}
