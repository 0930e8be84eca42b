#pragma once

#include "platform/TlsTrust.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <optional>

// What the command line chose for this run. What it leaves open comes from the saved settings
// (or their defaults); nothing given here is saved.
struct AppOptions {
    bool headless = false;
    std::optional<QString> server;             // --server: the host
    std::optional<quint16> serverPort;         // --server-port; else saved, or the mode's default
    std::optional<SecurityMode> security;      // --security
    std::optional<QString> caFile;             // --ca-file
    QList<QByteArray> trustFingerprints;       // --trust-fingerprint, for this run's server
    std::optional<quint16> listenPort;         // --listen-port
    std::optional<QHostAddress> listenAddress; // --listen-address
    std::optional<QString> configDir;
    std::optional<int> maxClients;                // --max-clients
    std::optional<int> idleTimeoutSeconds;        // --idle-timeout
    std::optional<bool> clientTls;                // --client-tls on|off
    std::optional<quint16> clientTlsPort;         // --client-tls-port; 0: none this run
    std::optional<QString> clientCertificateFile; // --client-cert, with --client-key
    std::optional<QString> clientKeyFile;         // --client-key
    bool printClientCertificate = false;          // --client-certificate: print, then exit
    std::optional<bool> tagEncodedWords;          // --tag-encoded-words
    std::optional<QString> logFile;               // --log-file, made absolute
    bool autostart = false;                       // --autostart: started at login
    QList<Account> accounts; // --account, over the options file's accounts of the same login
};
