#include "relay/RelaySession.h"

#include "relay/ClientCommand.h"
#include "relay/Pieces.h"
#include "relay/RelayReplies.h"

RelaySession::RelaySession(RelayView& window, std::function<int()> clientsServed, int clientNumber,
                           const Options& sessionOptions, QObject* parent)
    : QObject(parent), view(window, std::move(clientsServed), clientNumber),
      options(sessionOptions), number(clientNumber) {
    connect(&winsock1, &SocketEndpoint::CloseEvent, this, &RelaySession::Winsock1_Close);
    connect(&winsock2, &SocketEndpoint::CloseEvent, this, &RelaySession::Winsock2_Close);
    connect(&winsock1, &SocketEndpoint::DataArrival, this, &RelaySession::Winsock1_DataArrival);
    connect(&winsock2, &SocketEndpoint::DataArrival, this, &RelaySession::Winsock2_DataArrival);
    // Queued: a connect can fail inside Connect itself, and a write to a client that has gone
    // fails inside SendData; the handlers must not run there.
    connect(&winsock1, &SocketEndpoint::ErrorEvent, this, &RelaySession::Winsock1_Error,
            Qt::QueuedConnection);
    connect(&winsock2, &SocketEndpoint::ErrorEvent, this, &RelaySession::Winsock2_Error,
            Qt::QueuedConnection);
    connect(&winsock1, &SocketEndpoint::BytesWritten, this, &RelaySession::BalanceFlow);
    connect(&winsock1, &SocketEndpoint::Encrypted, this, &RelaySession::Tls_Encrypted);
    connect(&winsock1, &SocketEndpoint::TlsFailed, this, &RelaySession::Tls_Failed,
            Qt::QueuedConnection);
    connect(&winsock2, &SocketEndpoint::BytesWritten, this, &RelaySession::BalanceFlow);
    connect(&winsock2, &SocketEndpoint::BytesWritten, this, &RelaySession::FinishClientIfDrained);
    for (SocketEndpoint* side : {&winsock1, &winsock2}) {
        connect(side, &SocketEndpoint::DataArrival, this, &RelaySession::Touch);
        connect(side, &SocketEndpoint::BytesWritten, this, &RelaySession::Touch);
    }
    idleTimer.setSingleShot(true);
    connect(&idleTimer, &QTimer::timeout, this, &RelaySession::CheckIdle);
    Touch();
    idleTimer.start(options.idleTimeoutMs);
}

void RelaySession::Start() {
    hadClient = true;
    view.ShowWindow();
    ConnectServer();
}

void RelaySession::ConnectServer() {
    view.List1Clear();
    view.List2Clear();
    // Whatever is left of an earlier server connection goes, so the client gets a fresh
    // connection and a fresh greeting for its APOP stamp.
    if (winsock1.State() != SocketEndpoint::Closed) {
        winsock1.Close();
        state.AddB = false;
    }
    conversation.Reset();
    winsock1.SetRemoteHost(view.Text1());
    winsock1.SetRemotePort(options.serverPort);
    Tls_PrepareConnect(view.Text1());
    winsock1.Connect();
    BalanceFlow();
}

void RelaySession::Winsock1_Close() {
    if (winsock1.State() == SocketEndpoint::Closing) {
        winsock1.Close();
    }
    Apply(conversation.ServerClosed(TaggingRulesNow()));
    const bool greeted = state.AddB;
    state.AddB = false;
    if (!greeted) {
        // Gone before it said anything: the client would wait for a greeting forever.
        ReleaseWaitingClient();
    } else {
        // The server has ended the conversation, so the client's connection ends too, once
        // everything the server sent has reached it.
        FinishClient();
    }
    BalanceFlow();
}

void RelaySession::Winsock2_Close() {
    // The client has said all it will say. The server is told so once what the client sent has
    // gone out; its answers still reach the client, and its close ends the session.
    if (winsock1.State() == SocketEndpoint::Connected) {
        winsock1.FinishSending();
        return;
    }
    if (winsock2.State() == SocketEndpoint::Closing) {
        winsock2.Close();
    }
    ClientLeft();
}

void RelaySession::Winsock2_Error() {
    // The client has gone entirely: nobody takes the replies, and the server connection goes
    // without a QUIT, so the server deletes nothing.
    End();
}

void RelaySession::ClientLeft() {
    End();
}

void RelaySession::Winsock1_Error() {
    if (winsock1.State() != SocketEndpoint::Error) {
        return; // closed or reconnected since
    }
    Q_EMIT ServerConnectFailed(winsock1.ErrorText());
    winsock1.Close();
    Apply(conversation.ServerClosed(TaggingRulesNow()));
    if (!state.AddB) {
        ReleaseWaitingClient();
    } else {
        state.AddB = false;
        FinishClient();
    }
}

// The client waits for a greeting that will never come: tell it and let it go.
void RelaySession::ReleaseWaitingClient() {
    if (winsock2.State() == SocketEndpoint::Connected ||
        winsock2.State() == SocketEndpoint::Closing) {
        winsock2.SendData(CannotConnectReply);
    }
    winsock2.Close();
    ClientLeft();
}

void RelaySession::FinishClient() {
    finishing = true;
    FinishClientIfDrained();
}

void RelaySession::FinishClientIfDrained() {
    if (finishing && !ended && winsock2.BytesToWrite() == 0) {
        winsock2.Close();
        ClientLeft();
    }
}

void RelaySession::End() {
    if (ended) {
        return;
    }
    ended = true;
    idleTimer.stop();
    if (winsock1.State() != SocketEndpoint::Closed) {
        winsock1.Close();
    }
    if (winsock2.State() != SocketEndpoint::Closed) {
        winsock2.Close();
    }
    Q_EMIT Finished();
}

void RelaySession::Touch() {
    lastActivity.start();
}

// RFC 1939's autologout: a conversation where nothing has moved for the timeout is let go,
// client and server connection alike.
void RelaySession::CheckIdle() {
    const qint64 idleFor = lastActivity.elapsed();
    if (idleFor < options.idleTimeoutMs) {
        idleTimer.start(int(options.idleTimeoutMs - idleFor));
        return;
    }
    End();
}

void RelaySession::Winsock1_DataArrival(qint32 /*bytesTotal*/) {
    const QByteArray block = winsock1.GetData();
    if (block.isEmpty() || Tls_ServerBlock(block)) {
        return;
    }
    view.TraySetImage(TrayPicture::ServerData);
    Apply(conversation.FromServer(block, state, TaggingRulesNow()));
}

void RelaySession::Winsock2_DataArrival(qint32 /*bytesTotal*/) {
    const QByteArray received = winsock2.GetData();
    if (received.isEmpty()) {
        return;
    }
    view.TraySetImage(TrayPicture::ClientData);
    Apply(conversation.FromClient(received, state, winsock1.State() == SocketEndpoint::Connected));
}

void RelaySession::ConsoleToServer(const QByteArray& line) {
    winsock1.SendData(line + "\r\n");
    Apply(conversation.ConsoleSentToServer(line));
    BalanceFlow();
}

TaggingRulesSource RelaySession::TaggingRulesNow() const {
    return [this] { return TaggingRules{view.List3Items(), view.Check1Value()}; };
}

void RelaySession::Apply(const RelayOutput& out) {
    const QByteArrayView list1 = CompleteLinesText(out.list1);
    if (!list1.isEmpty()) {
        view.List1AddLines(list1);
    }
    if (!out.list2.isEmpty()) {
        view.List2AddLines(out.list2);
    }
    if (!out.toClient.isEmpty()) {
        SendToClient(out.toClient);
    }
    if (!out.toServer.isEmpty()) {
        SendToServer(out.toServer);
    }
}

void RelaySession::SendToServer(const QByteArray& bytes) {
    if (winsock1.State() != SocketEndpoint::Connected) {
        SendToClient(ServerNotConnectedReply);
        return;
    }
    winsock1.SendData(bytes);
    BalanceFlow();
}

void RelaySession::SendToClient(const QByteArray& bytes) {
    // A client that has gone simply misses the block; it is not kept for later. One that has
    // only finished sending still reads.
    if (winsock2.State() != SocketEndpoint::Connected &&
        winsock2.State() != SocketEndpoint::Closing) {
        return;
    }
    winsock2.SendData(bytes);
    BalanceFlow();
}

// Reading from one side pauses while the other side has more than FlowHighWater bytes waiting
// to be written, and resumes once that has drained below FlowLowWater. Unread data then waits in
// the kernel, which slows the sender down by TCP's own means: memory stays bounded whatever the
// size of a message and however slowly the mail client reads.
void RelaySession::BalanceFlow() {
    const auto balance = [](SocketEndpoint& reader, qint64 waiting) {
        const bool pause = reader.ReadPaused() ? waiting > FlowLowWater : waiting > FlowHighWater;
        reader.SetReadPaused(pause);
    };
    balance(winsock1, winsock2.BytesToWrite());
    // Everything written toward the client counts, the replies Quorlin gives itself included: a
    // client that sends without reading is read no faster than it reads.
    // Answers held back behind a server reply still due count as written toward the client.
    balance(winsock2,
            qMax(winsock1.BytesToWrite(), winsock2.BytesToWrite() + conversation.HeldBytes()));
    // Commands sent ahead of the greeting wait for it: the login needs its stamp.
    const int server = winsock1.State();
    if (!state.AddB && server >= SocketEndpoint::ResolvingHost &&
        server <= SocketEndpoint::Connected) {
        winsock2.SetReadPaused(true);
    }
}
