#pragma once

#include <QCryptographicHash>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

// A POP3 server for many connections at once, each with its own greeting stamp: it checks the
// APOP line against its own table of passwords (digest computed here, apart from the relay's),
// and serves RETR 1 from the mailbox of the user logged in on that connection. So a login or a
// message that crossed from one client's conversation into another's shows as "-ERR" or as
// another user's mail.
class MailboxServer : public QObject {
public:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray stamp;
        QByteArray received;
        QByteArray user; // logged in as
        bool peerClosed = false;
        bool quit = false;
    };

    MailboxServer() {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* incoming = server.nextPendingConnection()) {
                auto connection = std::make_unique<Connection>();
                Connection* held = connection.get();
                held->socket = incoming;
                held->stamp = "<" + QByteArray::number(++greeted) + ".7@mailbox.test>";
                QObject::connect(incoming, &QTcpSocket::readyRead, this,
                                 [this, held] { Serve(*held); });
                QObject::connect(incoming, &QTcpSocket::disconnected, this, [held] {
                    held->peerClosed = true;
                    held->socket->deleteLater();
                });
                connections.push_back(std::move(connection));
                incoming->write(Greeting(*held));
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 Port() const { return server.serverPort(); }
    static QByteArray Greeting(const Connection& connection) {
        return "+OK mailbox ready " + connection.stamp + "\r\n";
    }
    static QByteArray RetrReply(const QByteArray& message) {
        return "+OK " + QByteArray::number(message.size()) + " octets\r\n" + message + ".\r\n";
    }
    // The connection whose greeting carried this stamp.
    Connection* ByStamp(const QByteArray& greeting) {
        for (const auto& connection : connections) {
            if (greeting.contains(connection->stamp)) {
                return connection.get();
            }
        }
        return nullptr;
    }
    int OpenConnections() const {
        int open = 0;
        for (const auto& connection : connections) {
            open += connection->peerClosed ? 0 : 1;
        }
        return open;
    }

    QHash<QByteArray, QByteArray> passwords; // user -> password
    QHash<QByteArray, QByteArray> messages;  // user -> message 1, ending with CR LF
    std::vector<std::unique_ptr<Connection>> connections;
    QTcpServer server;
    int greeted = 0;

private:
    void Serve(Connection& connection) {
        connection.received += connection.socket->readAll();
        for (qsizetype end; (end = connection.received.indexOf("\r\n")) >= 0;) {
            if (connection.socket->state() != QAbstractSocket::ConnectedState) {
                return; // the relay has gone: nobody takes the answers
            }
            const QByteArray line = connection.received.left(end);
            connection.received.remove(0, end + 2);
            connection.socket->write(Answer(connection, line));
            // Out before Qt sees a half-closed peer's EOF, on which it drops unwritten data.
            connection.socket->flush();
            if (connection.quit) {
                connection.socket->disconnectFromHost();
                return;
            }
        }
    }

    QByteArray Answer(Connection& connection, const QByteArray& line) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "APOP" && passwords.contains(words[1]) &&
            words[2] == QCryptographicHash::hash(connection.stamp + passwords[words[1]],
                                                 QCryptographicHash::Md5)
                            .toHex()) {
            connection.user = words[1];
            return "+OK " + words[1] + "'s maildrop ready\r\n";
        }
        if (line == "RETR 1" && !connection.user.isEmpty()) {
            return RetrReply(messages.value(connection.user));
        }
        if (line == "NOOP") {
            return "+OK\r\n";
        }
        if (line == "QUIT") {
            connection.quit = true;
            return "+OK bye\r\n";
        }
        return "-ERR refused: " + line + "\r\n";
    }
};
