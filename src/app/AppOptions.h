#pragma once

#include "platform/Pop3Ports.h"
#include "platform/TlsTrust.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <optional>

// What the command line chose for this run.
struct AppOptions {
    bool headless = false;
    std::optional<QString> server; // --server: the host for this run, not saved
    quint16 serverPort = PlainPop3Port;
    bool serverPortGiven = false; // else the saved port, or the default of the security mode
    std::optional<SecurityMode> security; // --security, for this run
    std::optional<QString> caFile;        // --ca-file, for this run
    QList<QByteArray> trustFingerprints;  // --trust-fingerprint, for this run's server
    quint16 listenPort = PlainPop3Port;
    QHostAddress listenAddress = QHostAddress::Any;
    // Given on the command line: they override the saved listen setting for this run.
    bool listenPortGiven = false;
    bool listenAddressGiven = false;
    std::optional<QString> configDir;
    std::optional<int> maxClients;         // --max-clients
    std::optional<int> idleTimeoutSeconds; // --idle-timeout
};
