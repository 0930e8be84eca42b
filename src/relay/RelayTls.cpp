// The relay's TLS steps toward the mail server. Relay.cpp calls in at a few places; the plain
// mode passes through every one of them unchanged.
#include "relay/Relay.h"

#include "relay/ClientCommand.h"
#include "relay/Pieces.h"

namespace {
constexpr int PictureServerData = 2;
} // namespace

QByteArray TlsRefusalReply(const QString& reason) {
    return "-ERR No secure connection to the mail server: " + reason.toUtf8() + ".\r\n";
}

void Relay::SetServerTls(const ServerTlsSettings& settings) {
    serverTls = settings;
}

void Relay::Tls_PrepareConnect(const QString& host) {
    TlsPolicy policy = serverTls.policy;
    if (serverTls.trustedFor) {
        policy.pinnedFingerprints += serverTls.trustedFor(host);
    }
    winsock1.SetTlsPolicy(policy);
    tls = TlsSession();
    tls.negotiating = policy.mode == SecurityMode::StartTls;
    tls.holdingClient = policy.mode != SecurityMode::None;
}

bool Relay::Tls_ServerBlock(QByteArray& block) {
    if (tls.negotiating) {
        const StlsNegotiation::Action action = tls.negotiation.Feed(block);
        view.TraySetImage(PictureServerData);
        if (!action.serverLines.isEmpty()) {
            view.List1AddLines(JoinLines(action.serverLines));
        }
        switch (action.step) {
        case StlsNegotiation::Step::Wait:
            break;
        case StlsNegotiation::Step::SendToServer:
            winsock1.SendData(action.bytes);
            break;
        case StlsNegotiation::Step::StartTls:
            winsock1.StartTls();
            break;
        case StlsNegotiation::Step::Refused:
            Tls_Failed(action.reason, QSslCertificate());
            break;
        }
        return true;
    }
    if (tls.holdingClient) {
        // The first block inside implicit TLS is the greeting; once it is passed on, the
        // client's commands may follow.
        tls.holdingClient = false;
    }
    if (tls.loginReplies.Active()) {
        view.TraySetImage(PictureServerData);
        LoginReplyPair::Result replies = tls.loginReplies.Feed(block);
        const QByteArrayView lines = CompleteLinesText(replies.consumed);
        if (!lines.isEmpty()) {
            view.List1AddLines(lines);
        }
        SendToClient(replies.toClient);
        block = replies.rest;
        return block.isEmpty();
    }
    return false;
}

void Relay::Tls_LoginStep(ClientStep& step) {
    if (!step.login || winsock1.Policy().mode == SecurityMode::None) {
        return;
    }
    step.toClient.clear();
    step.toServer = TlsLoginCommands(state.USER, state.PASS);
    tls.loginReplies.Start();
}

void Relay::Tls_Encrypted() {
    if (!tls.negotiating) {
        return;
    }
    // What the plain exchange told us is not trusted; only the greeting is passed on, so that
    // the client is greeted at all, and its stamp is never used inside TLS.
    tls.negotiating = false;
    tls.holdingClient = false;
    state.Greed = tls.negotiation.Greeting();
    state.AddB = true;
    SendToClient(state.Greed);
}

// The client's commands wait (unread, in the kernel) while the way to the server is still being
// made secure; once that failed or the server left, the client is told and let go instead.
bool Relay::Tls_HoldsClient() const {
    const int server = winsock1.State();
    return tls.holdingClient && winsock2.State() == SocketEndpoint::Connected &&
           server >= SocketEndpoint::ConnectionPending && server <= SocketEndpoint::Connected;
}

void Relay::Tls_Failed(const QString& reason, const QSslCertificate& certificate) {
    tls.negotiating = false;
    tls.holdingClient = false;
    Q_EMIT ServerTlsFailed(
        TlsFailure{winsock1.RemoteHost(), winsock1.RemotePort(), reason, certificate});
    winsock1.Close();
    state.AddB = false;
    if (winsock2.State() == SocketEndpoint::Connected) {
        winsock2.SendData(TlsRefusalReply(reason));
        winsock2.Close();
        ClientLeft();
    } else {
        BalanceFlow();
    }
}
