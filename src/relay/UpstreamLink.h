#pragma once

#include "platform/ServerSocket.h"
#include "platform/TlsTrust.h"
#include "relay/GreetingLine.h"
#include "relay/StlsNegotiation.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>

// Why the connection to the mail server did not come about, or broke.
struct LinkFailure {
    enum class Kind {
        Connect,  // no connection, or a broken one
        Greeting, // connected, but no greeting came
        Tls,      // no secure connection: a refused certificate, a failed handshake, no STLS
    };
    Kind kind = Kind::Connect;
    QString host;
    quint16 port = 0;
    QString reason;
    QSslCertificate certificate; // the server's, when it showed one

    TlsFailure AsTlsFailure() const { return {host, port, reason, certificate}; }
};

// A conversation's connection to the mail server. It owns the server socket, the TLS handshake
// and, in STLS mode, the plain exchange before it, judges the server's certificate, and gathers
// the greeting; the conversation hears of it only as Greeted, Block, Failed and Closed, and
// plain mode passes every step unchanged. Lines it takes itself (the STLS exchange, the
// greeting) it hands out for the server log.
class UpstreamLink : public QObject {
    Q_OBJECT

public:
    struct Target {
        QString host;
        quint16 port = 0;
        TlsPolicy policy; // the certificates pinned for this host included
        int stepTimeoutMs = DefaultServerStepTimeoutMs;
    };

    // The steps of one connection, in order; STLS adds the middle two.
    enum class Phase { Closed, Connecting, Negotiating, Handshaking, AwaitingGreeting, Greeted };

    explicit UpstreamLink(QObject* parent = nullptr);

    // A fresh connection: whatever is left of the last one goes without a word.
    void Connect(const Target& target);
    void Close();

    Phase CurrentPhase() const { return phase; }
    // The password goes inside TLS (USER and PASS) rather than as APOP.
    bool LoginInsideTls() const { return target.policy.mode != SecurityMode::None; }
    // Connected and not in a handshake: what is sent goes to the server.
    bool CanSend() const { return socket.IsOpen(); }
    Result<> Send(const QByteArray& bytes) { return socket.Send(bytes); }
    void FinishSending() { socket.FinishSending(); }
    // For flow control: how much waits to be written, and pausing the reading.
    Connection& Socket() { return socket; }
    const ServerSocket& Server() const { return socket; }

Q_SIGNALS:
    // Bytes came from the server, whatever becomes of them.
    void Arrived();
    // Bytes the link took itself, for the server log (the greeting may end inside its line).
    void Logged(const QByteArray& lines);
    void Greeted(const QByteArray& greeting);
    // The server's bytes after the greeting, as they came.
    void Block(const QByteArray& bytes);
    // Reported from the event loop, never from inside a call; the connection is closed already.
    void Failed(const LinkFailure& failure);
    // The server has closed the connection after its greeting.
    void Closed();

private:
    void OnHandshakeStarted();
    void OnConnected();
    void OnEncrypted();
    void OnCertificateFaults(const QList<QSslError>& errors);
    void OnArrived();
    void OnPeerFinished();
    void OnSocketFailed();
    void Negotiate(const QByteArray& block);
    void StartStep(Phase next);
    void OnStepTimedOut();
    void TakeGreeting(const QByteArray& block);
    void GreetWith(const QByteArray& greeting);
    void Fail(LinkFailure::Kind kind, const QString& reason, const QSslCertificate& certificate);

    ServerSocket socket;
    Target target;
    Phase phase = Phase::Closed;
    QTimer stepTimer;       // the step before the greeting that is going on
    quint64 connection = 0; // counts connections, so that a late report of an old one is dropped
    GreetingLine greeting;
    StlsNegotiation negotiation;
    QString refusal; // the verdict on the certificate, when it was refused
};
