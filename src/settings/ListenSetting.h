#pragma once

#include "platform/Pop3Ports.h"
#include "platform/ProgramFiles.h"

#include <QHostAddress>
#include <QList>

// Where Quorlin waits for the mail client, kept in the options file under [Listen] as Port and
// Address. An empty Address means every address of the machine.
struct ListenSetting {
    static constexpr quint16 DefaultPort = PlainPop3Port;

    quint16 port = DefaultPort;
    QHostAddress address = QHostAddress::Any;
};

// The loopback address stands for both, 127.0.0.1 and ::1, on one port: no other program can
// then take ::1 on Quorlin's port and be given the logins of the clients that try IPv6 first.
QList<QHostAddress> ListenAddresses(const QHostAddress& address);

// A missing file or key, or a value that is no port or no address, gives the default.
ListenSetting LoadListenSetting();
// Writes both keys, or one; the result carries the reason and the file's path when it failed.
Result<> SaveListenSetting(const ListenSetting& setting);
Result<> SaveListenPort(quint16 port);
Result<> SaveListenAddress(const QHostAddress& address);
