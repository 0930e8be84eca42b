#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A mail server the test scripts block by block: every Send is one write, flushed at once.
class ScriptedServer : public QObject {
public:
    ScriptedServer() {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* incoming = server.nextPendingConnection()) {
                ++connections;
                connection = incoming;
                received.clear();
                QObject::connect(incoming, &QTcpSocket::readyRead, this,
                                 [this, incoming] { received += incoming->readAll(); });
                QObject::connect(incoming, &QTcpSocket::disconnected, this,
                                 [this, incoming] {
                                     if (incoming == connection) {
                                         peerClosed = true;
                                     }
                                 });
                peerClosed = false;
                if (!greeting.isEmpty()) {
                    Send(greeting);
                }
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 Port() const { return server.serverPort(); }
    void Send(const QByteArray& block) {
        connection->write(block);
        connection->flush();
    }
    void CloseConnection() { connection->disconnectFromHost(); }
    bool Connected() const {
        return connection && connection->state() == QAbstractSocket::ConnectedState;
    }

    QByteArray greeting; // sent by itself to every new connection when not empty
    QTcpServer server;
    QTcpSocket* connection = nullptr;
    QByteArray received;
    int connections = 0;
    bool peerClosed = false;
};

// A mail client: collects everything the relay sends it.
class TestClient : public QObject {
public:
    TestClient() {
        QObject::connect(&socket, &QTcpSocket::readyRead, this,
                         [this] { received += socket.readAll(); });
    }
    void ConnectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    void Send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    bool Connected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    QTcpSocket socket;
    QByteArray received;
};
