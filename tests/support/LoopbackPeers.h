#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A loopback port nothing listens on right now: for a refused connect, or for a child process
// to listen on.
inline quint16 FreeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A mail server the test scripts block by block: every Send is one write, flushed at once.
// Connections go once closed, so a long run of sessions leaves nothing behind.
class ScriptedServer : public QObject {
public:
    ScriptedServer() {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* incoming = server.nextPendingConnection()) {
                ++connections;
                connection = incoming;
                received.clear();
                if (readBufferSize > 0) {
                    incoming->setReadBufferSize(readBufferSize);
                }
                QObject::connect(incoming, &QTcpSocket::readyRead, this, [this, incoming] {
                    if (reading) {
                        received += incoming->readAll();
                    }
                });
                QObject::connect(incoming, &QTcpSocket::disconnected, this, [this, incoming] {
                    if (incoming == connection) {
                        peerClosed = true;
                    }
                    incoming->deleteLater();
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
        if (!connection) {
            return;
        }
        connection->write(block);
        connection->flush();
    }
    void CloseConnection() {
        if (connection) {
            connection->disconnectFromHost();
        }
    }
    // While not reading, what arrives stays unread: with a small readBufferSize the kernel's
    // buffers fill and the sender is held back, as by a slow peer.
    void SetReading(bool on) {
        reading = on;
        if (on && connection) {
            received += connection->readAll();
        }
    }
    bool Connected() const {
        return connection && connection->state() == QAbstractSocket::ConnectedState;
    }

    QByteArray greeting;       // sent by itself to every new connection when not empty
    qint64 readBufferSize = 0; // for new connections; 0 is Qt's default, unlimited
    bool reading = true;
    QTcpServer server;
    QPointer<QTcpSocket> connection; // the latest connection, null once it has gone
    QByteArray received;
    int connections = 0;
    bool peerClosed = false;
};

// A mail client: collects everything the relay sends it.
class TestClient : public QObject {
public:
    TestClient() {
        QObject::connect(&socket, &QTcpSocket::readyRead, this, [this] {
            if (reading) {
                received += socket.readAll();
            }
        });
    }
    void ConnectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    void Send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    bool Connected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // As ScriptedServer::SetReading; set socket's readBufferSize to hold the sender back.
    void SetReading(bool on) {
        reading = on;
        if (on) {
            received += socket.readAll();
        }
    }

    QSslSocket socket; // plain unless a test starts TLS toward Quorlin
    QByteArray received;
    bool reading = true;
};
