#pragma once

#include "platform/Result.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>
#include <utility>

class ClientSocket;
class QTcpServer;

// Waits for mail clients on one port of one or more addresses. Each client is announced
// (Incoming) and taken with Accept inside that handler; one nobody took is refused.
class Listener : public QObject {
    Q_OBJECT

public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    // Port 0 asks the system for a free port, the first time; later it means that same port again.
    // Every address or none: one taken by another program fails the whole; one after the first
    // that this machine does not have is left out.
    Result<> Listen(const QList<QHostAddress>& addresses, quint16 port);
    Result<> Listen(const QHostAddress& address, quint16 port) {
        return Listen(QList<QHostAddress>{address}, port);
    }
    void Close();
    bool IsListening() const;
    quint16 Port() const { return port; }
    // The addresses held: those asked for, less one the machine does not have.
    QList<QHostAddress> Addresses() const;

    // The client being announced; null outside Incoming or once taken.
    std::unique_ptr<ClientSocket> Accept();
    // The same as a bare descriptor, for a connection of another kind; -1 when there is none.
    qintptr TakeDescriptor() { return std::exchange(announced, -1); }

    // How long to wait before accepting again after running out of descriptors.
    static constexpr int AcceptRetryMs = 500;

Q_SIGNALS:
    void Incoming();

private:
    void OnIncoming(qintptr descriptor);
    QTcpServer* AddServer();

    QList<QTcpServer*> servers;
    quint16 port = 0;
    qintptr announced = -1;
};
