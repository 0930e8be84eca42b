#pragma once

#include "app/AppOptions.h"
#include "settings/ServerSecurity.h"
#include "settings/Settings.h"
#include "settings/UnusableSetting.h"

#include <QList>
#include <QString>
#include <optional>

// What keeps a reload from taking effect: the settings in force then stay, all of them.
struct ReloadProblems {
    struct UnreadableFile {
        QString path;
        QString reason;
    };
    QList<UnusableSetting> unusable; // in the options file, its format included
    QList<UnreadableFile> unreadable;
    std::optional<CaFileProblem> caFile;
    // TLS toward the mail clients newly switched on, or a new certificate, and none to be had.
    QString clientCertificate;

    bool Any() const {
        return !unusable.isEmpty() || !unreadable.isEmpty() || caFile ||
               !clientCertificate.isEmpty();
    }
};

// Where the server host comes from on a reload: in the window, the server box holds the host in
// force (what is typed there applies at once, registered or not); without a window, the file.
enum class HostOnReload { InForce, FromFile };

struct ReloadedSettings {
    Settings settings;
    ReloadProblems problems;
    // Quorlin's own certificate for the mail clients made anew on the way, and why.
    CertificateRenewal clientCertificateRenewal = CertificateRenewal::Kept;
};

// The settings files read again (SIGHUP, the settings dialog's OK), without asking anything,
// with this run's command line over them as at start: a reload never turns a --security tls
// run plain nor drops --server, --listen-port or --trust-fingerprint. What the files do not
// hold stays as in force: the rule for mail without a character set (the window's box), and
// the host where Quorlin.ini is missing. The certificate for the mail clients is read again
// only where its files or the switch changed, so mail clients keep the one they trust.
ReloadedSettings ReadSettingsAgain(const AppOptions& options, const Settings& inForce,
                                   HostOnReload host);
