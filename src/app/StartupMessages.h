#pragma once

#include "app/SettingsReload.h"
#include "platform/OwnCertificate.h"
#include "platform/TlsTrust.h"
#include "settings/OptionsFile.h"

#include <QString>

// The words the user gets when Quorlin cannot listen for the mail client: the port, the
// system's reason and, for a privileged port, the two ways around it. For standard error.
QString ListenFailureMessage(quint16 port, const QString& reason);

// The same for the window, in Japanese, pointing at the settings dialog instead of the option.
QString ListenFailureWindowMessage(quint16 port, const QString& reason);

// A mail server that could not be reached, for standard error.
QString ServerConnectFailureReport(const QString& host, quint16 port, const QString& reason);

// For the window: a mail server that could not be reached, and a mail server not set at all.
QString ServerConnectFailureMessage(const QString& host, quint16 port, const QString& reason);
QString NoServerSetMessage();

// A mail server that was reached but sent no greeting, for standard error and for the window;
// where Quorlin spoke plain text first, a hint at a port that expects TLS from the first byte.
QString NoGreetingReport(const QString& host, quint16 port, const QString& reason,
                         SecurityMode mode);
QString NoGreetingWindowMessage(const QString& host, quint16 port, const QString& reason,
                                SecurityMode mode);

// A Security value in the options file that names no mode: the file, the line and the values
// allowed. For standard error, and in Japanese for the window.
QString UnknownSecurityMessage(const OptionsFileLine& line);
QString UnknownSecurityWindowMessage(const OptionsFileLine& line);

// Quorlin's certificate for mail clients was made anew (in Japanese, for the window); empty
// when it was kept. RenewalNotice says it for a terminal.
QString RenewalWindowNotice(CertificateRenewal renewal, const QString& certificatePath);

// No certificate for TLS toward the mail clients, so none is offered this run: for standard
// error, and in Japanese for the window.
QString ClientTlsProblemMessage(const QString& problem);
QString ClientTlsProblemWindowMessage(const QString& problem);

// A reload that did not take effect, for standard error: every problem found, and that the
// settings in force stay.
QString ReloadRefusedMessage(const ReloadProblems& problems);

// A reload whose new listen address or port could not be had, where Quorlin still listens.
QString ListenAgainFailureMessage(quint16 wanted, const QString& reason, quint16 kept);
QString ListenAgainFailureWindowMessage(quint16 wanted, const QString& reason, quint16 kept);

// The log file cannot be written; the relay goes on without it, trying again with later lines.
QString LogFileFailureMessage(const QString& path, const QString& reason);
QString LogFileFailureWindowMessage(const QString& path, const QString& reason);
