#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

// What the command line chose for this run.
struct AppOptions {
    bool headless = false;
    std::optional<QString> server; // --server: the host for this run, not saved
    quint16 serverPort = 110;
    quint16 listenPort = 110;
    QHostAddress listenAddress = QHostAddress::Any;
    // Given on the command line: they override the saved listen setting for this run.
    bool listenPortGiven = false;
    bool listenAddressGiven = false;
    std::optional<QString> configDir;
};

int RunHeadless(const AppOptions& options);
int RunDisplay(const AppOptions& options);
