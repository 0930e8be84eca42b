#include "relay/UpstreamLink.h"

#include "platform/Lines.h"
#include "relay/Login.h"

namespace {

// "within 30 seconds", for the words of a step that took too long.
QString Within(int milliseconds) {
    return QStringLiteral("within %1 seconds").arg(milliseconds / 1000.0);
}

} // namespace

UpstreamLink::UpstreamLink(QObject* parent) : QObject(parent) {
    stepTimer.setSingleShot(true);
    connect(&stepTimer, &QTimer::timeout, this, &UpstreamLink::OnStepTimedOut);
    connect(&socket, &ServerSocket::HandshakeStarted, this, &UpstreamLink::OnHandshakeStarted);
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
    StartStep(Phase::Connecting);
    (void)socket.Connect(target.host, target.port, target.policy);
}

void UpstreamLink::Close() {
    ++connection;
    socket.Close();
    phase = Phase::Closed;
    stepTimer.stop();
    greeting.Reset();
    negotiation = StlsNegotiation();
    refusal.clear();
}

// Each step before the greeting has its own bound; the greeting ends them.
void UpstreamLink::StartStep(Phase next) {
    phase = next;
    stepTimer.start(target.stepTimeoutMs);
}

void UpstreamLink::OnHandshakeStarted() {
    StartStep(Phase::Handshaking);
}

void UpstreamLink::OnConnected() {
    StartStep(target.policy.mode == SecurityMode::StartTls ? Phase::Negotiating
                                                           : Phase::AwaitingGreeting);
}

// Each failure in its own words: the client's "-ERR", the log and the window say which step
// the server did not finish.
void UpstreamLink::OnStepTimedOut() {
    const QString within = Within(target.stepTimeoutMs);
    switch (phase) {
    case Phase::Connecting:
        Fail(LinkFailure::Kind::Connect, QStringLiteral("no answer ") + within, QSslCertificate());
        return;
    case Phase::AwaitingGreeting:
        Fail(LinkFailure::Kind::Greeting, QStringLiteral("none came ") + within, QSslCertificate());
        return;
    case Phase::Negotiating:
        Fail(LinkFailure::Kind::Tls,
             QStringLiteral("the mail server sent %1 %2").arg(negotiation.Awaited(), within),
             QSslCertificate());
        return;
    case Phase::Handshaking:
        Fail(LinkFailure::Kind::Tls, QStringLiteral("the TLS handshake did not finish ") + within,
             socket.PeerCertificate());
        return;
    case Phase::Closed:
    case Phase::Greeted:
        return;
    }
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
    stepTimer.stop();
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
        StartStep(Phase::Negotiating);
        break;
    case StlsNegotiation::Step::StartTls:
        StartStep(Phase::Handshaking);
        (void)socket.StartTls();
        break;
    case StlsNegotiation::Step::Refused:
        Fail(LinkFailure::Kind::Tls, action.reason, QSslCertificate());
        break;
    }
}

void UpstreamLink::OnPeerFinished() {
    switch (phase) {
    case Phase::Greeted:
        ++connection;
        socket.Close();
        phase = Phase::Closed;
        Q_EMIT Closed();
        return;
    case Phase::Handshaking:
        Fail(LinkFailure::Kind::Tls,
             QStringLiteral("the mail server closed the connection during the TLS handshake"),
             socket.PeerCertificate());
        return;
    case Phase::Negotiating:
        Fail(LinkFailure::Kind::Tls,
             QStringLiteral("the mail server closed the connection before TLS"), QSslCertificate());
        return;
    case Phase::Closed:
    case Phase::Connecting:
    case Phase::AwaitingGreeting:
        Fail(LinkFailure::Kind::Greeting, QStringLiteral("it closed the connection"),
             QSslCertificate());
        return;
    }
}

void UpstreamLink::OnSocketFailed() {
    const bool tls =
        !refusal.isEmpty() || socket.FailedInHandshake() || phase == Phase::Handshaking;
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
