#pragma once

#include "app/AppOptions.h"
#include "settings/ServerSecurity.h"
#include "settings/Settings.h"

#include <QString>

// This run's settings before anyone is asked anything: the listen setting, the limits on
// clients, how to reach the mail server ([Server]: mode, port, CA file), the certificates
// trusted per host, the tagging's options and the log file, from the settings folder
// (--config-dir, or the program's), with the command line put over them for this run only.
// The server host and the blocked list come later, from the runner, which may have to ask for
// the host.
struct StartupSettings {
    Settings settings;
    // Why mail clients are offered no TLS this run although it is switched on: no certificate
    // could be had. SASL is still taken in from this machine.
    QString clientTlsProblem;
    // A CA file of an --account that cannot be read: the run asked for it, so it does not start.
    QString accountOptionProblem;
    // Whether Quorlin's own certificate was kept, or why it was made anew.
    CertificateRenewal clientCertificateRenewal = CertificateRenewal::Kept;
    // Why the CA file could not be read; the server is then checked against the system's
    // authorities and the pinned certificates alone.
    std::optional<CaFileProblem> caFileProblem;
    // No settings file was there: EncodedWords starts on, and is written down once the relay
    // runs (KeepNewFolderTagging), so that a start that stops before leaves no file.
    bool newFolder = false;
};

// Without --security the saved port (or the saved mode's default) holds; with it, the saved
// port belonged to another choice, so --server-port or the new mode's default is taken.
// Reads the settings folder, so it needs the application object.
StartupSettings LoadStartupSettings(const AppOptions& options);

// The certificate for the mail clients, where TLS toward them is switched on: read, or Quorlin's
// own kept or made in the settings folder. Only once the relay is about to run, so that a start
// that stops before leaves no file behind.
void LoadClientCertificate(StartupSettings& startup);

// "host:port (TLS)": for the start-up line.
QString ServerDescription(const Account& account);
// "account bob@example.test: pop.example.net:995 (TLS), as user bob, also on port 1110": one
// start-up line for each account beside the default one.
QString AccountDescription(const Account& account, quint16 listeningPort);

// "port 110" and, with TLS toward the clients, " (STLS)" and ", TLS port 995": for the start-up
// line.
QString ListenDescription(const Settings& settings, quint16 port, quint16 tlsPort);

// The lines the headless log shows after a refused TLS connection: the failure with the
// certificate, and how to trust that certificate if it is the right one.
QString TlsFailureReport(const TlsFailure& failure);
