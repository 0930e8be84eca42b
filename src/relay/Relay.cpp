#include "relay/Relay.h"

#include "relay/ClientCommand.h"
#include "relay/Pieces.h"
#include "relay/Tagging.h"

const QByteArray Relay::ServerNotConnectedReply = "-ERR The mail server is not connected.\r\n";
const QByteArray Relay::CannotConnectReply = "-ERR Cannot connect to the mail server.\r\n";

namespace {
constexpr int PictureIdle = 1;
constexpr int PictureServerData = 2;
constexpr int PictureClientData = 3;
} // namespace

Relay::Relay(RelayView& relayView, const Options& relayOptions, QObject* parent)
    : QObject(parent), view(relayView), options(relayOptions) {
    connect(&winsock2, &SocketEndpoint::ConnectionRequest, this,
            &Relay::Winsock2_ConnectionRequest);
    connect(&winsock1, &SocketEndpoint::CloseEvent, this, &Relay::Winsock1_Close);
    connect(&winsock2, &SocketEndpoint::CloseEvent, this, &Relay::Winsock2_Close);
    connect(&winsock1, &SocketEndpoint::DataArrival, this, &Relay::Winsock1_DataArrival);
    connect(&winsock2, &SocketEndpoint::DataArrival, this, &Relay::Winsock2_DataArrival);
    // Queued: a connect can fail inside Connect itself, and the handler must not run there.
    connect(&winsock1, &SocketEndpoint::ErrorEvent, this, &Relay::Winsock1_Error,
            Qt::QueuedConnection);
    connect(&winsock1, &SocketEndpoint::BytesWritten, this, &Relay::BalanceFlow);
    connect(&winsock1, &SocketEndpoint::Encrypted, this, &Relay::Tls_Encrypted);
    connect(&winsock1, &SocketEndpoint::TlsFailed, this, &Relay::Tls_Failed, Qt::QueuedConnection);
    connect(&winsock2, &SocketEndpoint::BytesWritten, this, &Relay::BalanceFlow);
}

SocketResult Relay::StartListening() {
    winsock2.SetLocalPort(options.listenPort);
    winsock2.SetLocalAddress(options.listenAddress);
    return winsock2.Listen();
}

void Relay::Winsock2_ConnectionRequest(qint32 requestId) {
    if (winsock2.State() != SocketEndpoint::Closed) {
        winsock2.Close();
    }
    if (!winsock2.Accept(requestId)) {
        winsock2.Listen();
        return;
    }
    view.ShowWindow();
    ConnectServer();
}

void Relay::ConnectServer() {
    view.List1Clear();
    view.List2Clear();
    // Whatever is left of an earlier server connection goes, so the new client gets a fresh
    // connection and a fresh greeting for its APOP stamp.
    if (winsock1.State() != SocketEndpoint::Closed) {
        winsock1.Close();
        state.AddB = false;
    }
    winsock1.SetRemoteHost(view.Text1());
    winsock1.SetRemotePort(options.serverPort);
    Tls_PrepareConnect(view.Text1());
    winsock1.Connect();
    BalanceFlow();
}

void Relay::Winsock1_Close() {
    if (winsock1.State() == SocketEndpoint::Closing) {
        winsock1.Close();
    }
    const bool greeted = state.AddB;
    state.AddB = false;
    if (!greeted) {
        // Gone before it said anything: the client would wait for a greeting forever.
        ReleaseWaitingClient();
    }
    BalanceFlow();
}

void Relay::Winsock2_Close() {
    if (winsock2.State() == SocketEndpoint::Closing) {
        winsock2.Close();
    }
    ClientLeft();
}

void Relay::ClientLeft() {
    const SocketResult listening = winsock2.Listen();
    if (!listening) {
        Q_EMIT ListenFailed(listening.error);
    }
    if (winsock1.State() + winsock2.State() < 3) {
        view.HideWindow();
    }
    view.TraySetImage(PictureIdle);
    BalanceFlow();
}

void Relay::Winsock1_Error() {
    if (winsock1.State() != SocketEndpoint::Error) {
        return; // closed or reconnected since
    }
    Q_EMIT ServerConnectFailed(winsock1.ErrorText());
    if (!state.AddB) {
        winsock1.Close();
        ReleaseWaitingClient();
    }
}

// The client waits for a greeting that will never come: tell it and let it go.
void Relay::ReleaseWaitingClient() {
    if (winsock2.State() != SocketEndpoint::Connected) {
        return;
    }
    winsock2.SendData(CannotConnectReply);
    winsock2.Close();
    ClientLeft();
}

void Relay::Winsock1_DataArrival(qint32 /*bytesTotal*/) {
    QByteArray block = winsock1.GetData();
    if (block.isEmpty() || Tls_ServerBlock(block)) {
        return;
    }
    if (!state.AddB) {
        state.Greed = block;
        state.AddB = true;
    }
    view.TraySetImage(PictureServerData);

    if (state.Com == "RES") {
        TaggingResult inspected = InspectBlock(block, view.List3Items(), view.Check1Value());
        inspected.pieces.removeLast(); // the trailing piece is never logged
        if (!inspected.pieces.isEmpty()) {
            view.List1AddLines(JoinLines(inspected.pieces));
        }
        SendToClient(inspected.forward);
    } else {
        const QByteArrayView lines = CompleteLinesText(block);
        if (!lines.isEmpty()) {
            view.List1AddLines(lines);
        }
        SendToClient(block);
    }
}

void Relay::Winsock2_DataArrival(qint32 /*bytesTotal*/) {
    const QByteArray received = winsock2.GetData();
    if (received.isEmpty()) {
        return;
    }
    view.TraySetImage(PictureClientData);
    for (ClientStep& step : HandleClientArrival(state, received)) {
        Tls_LoginStep(step);
        if (!step.logLines.isEmpty()) {
            view.List2AddLines(JoinLines(step.logLines));
        }
        if (!step.toClient.isEmpty()) {
            SendToClient(step.toClient);
        }
        if (!step.toServer.isEmpty()) {
            SendToServer(step.toServer);
        }
    }
}

void Relay::SendToServer(const QByteArray& bytes) {
    if (winsock1.State() != SocketEndpoint::Connected) {
        SendToClient(ServerNotConnectedReply);
        return;
    }
    winsock1.SendData(bytes);
    BalanceFlow();
}

void Relay::SendToClient(const QByteArray& bytes) {
    // A client that has gone simply misses the block; it is not kept for later.
    if (winsock2.State() != SocketEndpoint::Connected) {
        return;
    }
    winsock2.SendData(bytes);
    BalanceFlow();
}

Relay::ConsoleResult Relay::ConsoleSend(int index, const QByteArray& line) {
    SocketEndpoint& target = index == 0 ? winsock1 : winsock2;
    if (target.State() != SocketEndpoint::Connected) {
        if (index == 0) {
            ConnectServer();
            return ConsoleResult::ServerConnectStarted;
        }
        return ConsoleResult::ClientNotConnected;
    }
    target.SendData(line + "\r\n");
    BalanceFlow();
    return ConsoleResult::Sent;
}

void Relay::CloseAll() {
    if (winsock1.State() != SocketEndpoint::Closed) {
        winsock1.Close();
    }
    if (winsock2.State() != SocketEndpoint::Closed) {
        winsock2.Close();
    }
}

// Reading from one side pauses while the other side has more than FlowHighWater bytes waiting
// to be written, and resumes once that has drained below FlowLowWater. Unread data then waits in
// the kernel, which slows the sender down by TCP's own means: memory stays bounded whatever the
// size of a message and however slowly the mail client reads.
void Relay::BalanceFlow() {
    const auto balance = [](SocketEndpoint& reader, const SocketEndpoint& writer) {
        const qint64 waiting = writer.BytesToWrite();
        const bool pause = reader.ReadPaused() ? waiting > FlowLowWater : waiting > FlowHighWater;
        reader.SetReadPaused(pause);
    };
    balance(winsock1, winsock2);
    balance(winsock2, winsock1);
    if (Tls_HoldsClient()) {
        winsock2.SetReadPaused(true);
    }
}
