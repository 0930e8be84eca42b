// A conversation's TLS steps toward the mail server. RelaySession.cpp calls in at a few places;
// the plain mode passes through every one of them unchanged.
#include "relay/RelaySession.h"

#include "relay/Pieces.h"

namespace {} // namespace

QByteArray TlsRefusalReply(const QString& reason) {
    return "-ERR No secure connection to the mail server: " + reason.toUtf8() + ".\r\n";
}

void RelaySession::Tls_PrepareConnect(const QString& host) {
    TlsPolicy policy = options.tls.policy;
    if (options.tls.trustedFor) {
        policy.pinnedFingerprints += options.tls.trustedFor(host);
    }
    winsock1.SetTlsPolicy(policy);
    tls = TlsSession();
    tls.negotiating = policy.mode == SecurityMode::StartTls;
    conversation.SetLoginInsideTls(policy.mode != SecurityMode::None);
}

bool RelaySession::Tls_ServerBlock(const QByteArray& block) {
    if (!tls.negotiating) {
        return false;
    }
    const StlsNegotiation::Action action = tls.negotiation.Feed(block);
    view.TraySetImage(TrayPicture::ServerData);
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

void RelaySession::Tls_Encrypted() {
    if (!tls.negotiating) {
        return;
    }
    // What the plain exchange told us is not trusted; only the greeting is passed on, so that
    // the client is greeted at all, and its stamp is never used inside TLS. It was logged when
    // it came.
    tls.negotiating = false;
    RelayOutput greeted =
        conversation.FromServer(tls.negotiation.Greeting(), state, TaggingRulesNow());
    greeted.list1.clear();
    Apply(greeted);
    BalanceFlow();
}

void RelaySession::Tls_Failed(const QString& reason, const QSslCertificate& certificate) {
    tls.negotiating = false;
    Q_EMIT ServerTlsFailed(
        TlsFailure{winsock1.RemoteHost(), winsock1.RemotePort(), reason, certificate});
    winsock1.Close();
    state.AddB = false;
    if (!HasClient()) {
        End();
        return;
    }
    if (winsock2.State() == SocketEndpoint::Connected ||
        winsock2.State() == SocketEndpoint::Closing) {
        winsock2.SendData(TlsRefusalReply(reason));
    }
    winsock2.Close();
    ClientLeft();
}
