#include "relay/UpstreamLink.h"

#include "platform/Lines.h"
#include "relay/Login.h"

UpstreamLink::UpstreamLink(QObject* parent) : QObject(parent) {
    connect(&socket, &ServerSocket::Connected, this, &UpstreamLink::OnConnected);
    connect(&socket, &ServerSocket::Encrypted, this, &UpstreamLink::OnEncrypted);
    connect(&socket, &ServerSocket::CertificateFaults, this, &UpstreamLink::OnCertificateFaults);
    connect(&socket, &ServerSocket::Arrived, this, &UpstreamLink::OnArrived);
    connect(&socket, &ServerSocket::PeerFinishedSending, this, &UpstreamLink::OnPeerFinished);
    connect(&socket, &ServerSocket::Failed, this, &UpstreamLink::OnSocketFailed);
}

void UpstreamLink::Connect(const Target& where) {
    Close();
    target = where;
    phase = Phase::Connecting;
    (void)socket.Connect(target.host, target.port, target.policy);
}

void UpstreamLink::Close() {
    ++connection;
    socket.Close();
    phase = Phase::Closed;
    greeting.Reset();
    negotiation = StlsNegotiation();
    refusal.clear();
}

void UpstreamLink::OnConnected() {
    phase =
        target.policy.mode == SecurityMode::StartTls ? Phase::Negotiating : Phase::AwaitingGreeting;
}

// What the plain exchange told us is not trusted; only its greeting is passed on, so that the
// client is greeted at all. It was logged when it came.
void UpstreamLink::OnEncrypted() {
    if (phase == Phase::Handshaking) {
        GreetWith(negotiation.Greeting());
    }
}

void UpstreamLink::OnCertificateFaults(const QList<QSslError>& errors) {
    const TrustDecision decision =
        DecideTrust(errors, socket.PeerCertificate(), target.policy.pinnedFingerprints);
    if (decision.accepted) {
        socket.AcceptCertificateFaults(errors);
    } else {
        // Qt ends the handshake itself; OnSocketFailed reports it with this reason.
        refusal = decision.reason;
    }
}

void UpstreamLink::OnArrived() {
    const QByteArray block = socket.Take();
    if (block.isEmpty()) {
        return;
    }
    Q_EMIT Arrived();
    switch (phase) {
    case Phase::Negotiating:
        Negotiate(block);
        return;
    case Phase::Greeted:
        Q_EMIT Block(block);
        return;
    case Phase::Closed:
    case Phase::Connecting:
    case Phase::Handshaking:
    case Phase::AwaitingGreeting:
        TakeGreeting(block);
        return;
    }
}

void UpstreamLink::TakeGreeting(const QByteArray& block) {
    const GreetingLine::Step step = greeting.Feed(block);
    if (!step.complete) {
        return;
    }
    const quint64 current = connection;
    Q_EMIT Logged(step.greeting);
    GreetWith(step.greeting);
    if (current == connection && !step.rest.isEmpty()) {
        Q_EMIT Block(step.rest);
    }
}

// Where Quorlin logs in with USER and PASS, the client must not log in with APOP itself.
void UpstreamLink::GreetWith(const QByteArray& greeting) {
    phase = Phase::Greeted;
    Q_EMIT Greeted(LoginInsideTls() ? WithoutTimestamp(greeting) : greeting);
}

void UpstreamLink::Negotiate(const QByteArray& block) {
    const StlsNegotiation::Action action = negotiation.Feed(block);
    if (!action.serverLines.isEmpty()) {
        Q_EMIT Logged(JoinLines(action.serverLines));
    }
    switch (action.step) {
    case StlsNegotiation::Step::Wait:
        break;
    case StlsNegotiation::Step::SendToServer:
        (void)socket.Send(action.bytes);
        break;
    case StlsNegotiation::Step::StartTls:
        phase = Phase::Handshaking;
        (void)socket.StartTls();
        break;
    case StlsNegotiation::Step::Refused:
        Fail(LinkFailure::Kind::Tls, action.reason, QSslCertificate());
        break;
    }
}

void UpstreamLink::OnPeerFinished() {
    const bool greeted = phase == Phase::Greeted;
    ++connection;
    socket.Close();
    phase = Phase::Closed;
    Q_EMIT Closed(greeted);
}

void UpstreamLink::OnSocketFailed() {
    const bool tls = !refusal.isEmpty() || socket.FailedInHandshake();
    if (!tls) {
        Fail(LinkFailure::Kind::Connect, socket.ErrorText(), QSslCertificate());
        return;
    }
    Fail(LinkFailure::Kind::Tls, refusal.isEmpty() ? socket.ErrorText() : refusal,
         socket.PeerCertificate());
}

// A connect can fail inside Connect itself, and the session must not be called back from there.
void UpstreamLink::Fail(LinkFailure::Kind kind, const QString& reason,
                        const QSslCertificate& certificate) {
    const LinkFailure failure{kind, target.host, target.port, reason, certificate};
    Close();
    const quint64 current = connection;
    QMetaObject::invokeMethod(
        this,
        [this, current, failure] {
            if (current == connection) {
                Q_EMIT Failed(failure);
            }
        },
        Qt::QueuedConnection);
}
