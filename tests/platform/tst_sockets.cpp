// The sockets on 127.0.0.1 by role: the listener, the accepted client connection and the
// connection to a server, with the events the relay relies on.
#include "platform/ClientSocket.h"
#include "platform/Listener.h"
#include "platform/ServerSocket.h"
#include "support/LoopbackPeers.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

class tst_Sockets : public QObject {
    Q_OBJECT

    static void Listen(Listener& listener) {
        QVERIFY(listener.Listen(QHostAddress::LocalHost, 0).Ok());
        QVERIFY(listener.IsListening());
    }

    // Every client the listener announces, taken.
    static void AcceptInto(Listener& listener, std::unique_ptr<ClientSocket>& accepted) {
        QObject::connect(&listener, &Listener::Incoming, &listener,
                         [&listener, &accepted] { accepted = listener.Accept(); });
    }

private Q_SLOTS:
    // A listener that found no descriptor left for a connection (too many open at once) serves
    // the next client once descriptors are free again, instead of never accepting any more.
    void listenerAcceptsAgainAfterRunningOutOfDescriptors() {
        Listener listener;
        Listen(listener);
        QSignalSpy requests(&listener, &Listener::Incoming);
        // The client is another process, so that only this one runs short of descriptors.
        QProcess client;
        client.start(
            QStringLiteral("python3"),
            {QStringLiteral("-c"), QStringLiteral("import socket,time\n"
                                                  "s=socket.create_connection(('127.0.0.1',%1))\n"
                                                  "time.sleep(1.5)\n"
                                                  "t=socket.create_connection(('127.0.0.1',%1))\n"
                                                  "time.sleep(3)")
                                       .arg(listener.Port())});
        QVERIFY(client.waitForStarted());
        rlimit files{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &files), 0);
        const rlimit usual = files;
        // The lowest free descriptor number becomes the limit: no new descriptor at all while
        // the first client knocks.
        const int lowestFree = ::dup(0);
        QVERIFY(lowestFree > 0);
        ::close(lowestFree);
        files.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &files), 0);
        QTest::qWait(700);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &usual), 0);
        QTRY_VERIFY_WITH_TIMEOUT(requests.count() >= 1, 5000);
        QVERIFY(listener.IsListening());
        client.waitForFinished(6000);
    }

    void listenAcceptAndDataBothWays() {
        Listener listener;
        Listen(listener);
        std::unique_ptr<ClientSocket> accepted;
        AcceptInto(listener, accepted);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listener.Port());
        QTRY_VERIFY(accepted);
        QSignalSpy arrivals(accepted.get(), &Connection::Arrived);
        qint64 announced = 0;
        connect(accepted.get(), &Connection::Arrived, this,
                [&] { announced = accepted->BytesAvailable(); });
        QVERIFY(accepted->IsOpen());

        peer.write(QByteArray("hello\r\n\x80\xff", 9));
        QTRY_VERIFY(!arrivals.isEmpty());
        QCOMPARE(announced, 9);
        QCOMPARE(accepted->Take(), QByteArray("hello\r\n\x80\xff", 9));
        QCOMPARE(accepted->Take(), QByteArray());

        QVERIFY(accepted->Send("reply\r\n").Ok());
        QTRY_COMPARE(peer.bytesAvailable(), 7);
        QCOMPARE(peer.readAll(), QByteArray("reply\r\n"));
    }

    // The peer's end reads "nothing more will come": writing goes on until a write fails
    // because the peer has gone entirely. A closed listener listens again on the port it had.
    void peerEndComesAfterItsDataThenAFailedWriteThenTheListenerListensAgain() {
        Listener listener;
        Listen(listener);
        const quint16 port = listener.Port();
        std::unique_ptr<ClientSocket> accepted;
        AcceptInto(listener, accepted);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(accepted);
        QSignalSpy ends(accepted.get(), &Connection::PeerFinishedSending);
        bool finishedAtEvent = false;
        connect(accepted.get(), &Connection::PeerFinishedSending, this,
                [&] { finishedAtEvent = accepted->PeerFinished(); });
        peer.write("last words");
        peer.disconnectFromHost();
        QTRY_COMPARE(ends.count(), 1);
        QVERIFY(finishedAtEvent);
        QVERIFY(accepted->IsOpen());
        QCOMPARE(accepted->Take(), QByteArray("last words"));
        // The peer might only have finished its own sending, so writing goes on; this one has
        // gone entirely, which shows once a write fails.
        QSignalSpy failures(accepted.get(), &Connection::Failed);
        QTRY_VERIFY(!accepted->Send("too late").Ok());
        QCOMPARE(failures.count(), 1);
        QVERIFY(accepted->HasFailed());
        QVERIFY(!accepted->IsOpen());

        accepted->Close();
        QVERIFY(!accepted->IsOpen());
        listener.Close();
        QVERIFY(!listener.IsListening());
        QVERIFY(listener.Listen(QHostAddress::LocalHost, 0).Ok());
        QCOMPARE(listener.Port(), port);
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(second.waitForConnected(2000));
    }

    // A client that half-closes still gets every reply; the listener keeps listening meanwhile,
    // and FinishSending ends the conversation with the peer's EOF.
    void halfClosedPeerStillReceivesWhileTheListenerListens() {
        Listener listener;
        Listen(listener);
        std::unique_ptr<ClientSocket> accepted;
        AcceptInto(listener, accepted);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listener.Port());
        QTRY_VERIFY(accepted);
        QSignalSpy ends(accepted.get(), &Connection::PeerFinishedSending);
        QVERIFY(listener.IsListening());
        QCOMPARE(accepted->LocalPort(), listener.Port());
        peer.write("RETR 1\r\nQUIT\r\n");
        peer.flush();
        QVERIFY(::shutdown(int(peer.socketDescriptor()), SHUT_WR) == 0);
        QTRY_COMPARE(ends.count(), 1);
        QCOMPARE(accepted->Take(), QByteArray("RETR 1\r\nQUIT\r\n"));

        const QByteArray reply = "+OK\r\n" + QByteArray(16 * 1024 * 1024, 'x') + "\r\n.\r\n";
        QVERIFY(accepted->Send(reply).Ok());
        QVERIFY(accepted->BytesToWrite() > 0); // more than the kernel takes at once
        accepted->FinishSending();
        QByteArray got;
        connect(&peer, &QTcpSocket::readyRead, this, [&] { got += peer.readAll(); });
        QTRY_COMPARE(peer.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(got.size(), reply.size());
        QCOMPARE(got, reply);

        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, listener.Port());
        QVERIFY(next.waitForConnected(2000));
    }

    void connectToAClosedPortFails() {
        const quint16 closedPort = FreeLoopbackPort();
        ServerSocket server;
        QSignalSpy failures(&server, &Connection::Failed);
        QSignalSpy ends(&server, &Connection::PeerFinishedSending);
        QVERIFY(server.Connect(QStringLiteral("127.0.0.1"), closedPort, TlsPolicy{}).Ok());
        QVERIFY(server.Connecting());
        QTRY_VERIFY(server.HasFailed());
        QCOMPARE(failures.count(), 1);
        QCOMPARE(ends.count(), 0);
        QVERIFY(!server.ErrorText().isEmpty());
        QVERIFY(!server.FailedInHandshake());
        server.Close();
        QVERIFY(!server.HasFailed());
        QVERIFY(!server.Connecting());
    }

    void refusedOperationsComeBackAsResults() {
        ServerSocket server;
        QVERIFY(!server.Send("x").Ok());
        QVERIFY(!server.StartTls().Ok());
        Listener listener;
        Listen(listener);
        QVERIFY(server.Connect(QStringLiteral("127.0.0.1"), listener.Port(), TlsPolicy{}).Ok());
        QVERIFY(!server.Connect(QStringLiteral("127.0.0.1"), listener.Port(), TlsPolicy{}).Ok());
        QVERIFY(!listener.Listen(QHostAddress::LocalHost, 0).Ok());
        QVERIFY(listener.IsListening());

        Listener rival;
        const Result<> busy = rival.Listen(QHostAddress::LocalHost, listener.Port());
        QVERIFY(!busy.Ok());
        QVERIFY(!busy.Error().isEmpty());
        QVERIFY(!rival.IsListening());
    }

    void pausedReadingHoldsDataAndTheEndBehindIt() {
        Listener listener;
        Listen(listener);
        std::unique_ptr<ClientSocket> accepted;
        AcceptInto(listener, accepted);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listener.Port());
        QTRY_VERIFY(accepted);
        QSignalSpy arrivals(accepted.get(), &Connection::Arrived);
        QSignalSpy ends(accepted.get(), &Connection::PeerFinishedSending);
        accepted->SetReadPaused(true);
        peer.write("held");
        peer.disconnectFromHost();
        QTest::qWait(100); // nothing may be delivered while paused; give it the chance
        QCOMPARE(arrivals.count(), 0);
        QCOMPARE(ends.count(), 0);

        QByteArray got;
        connect(accepted.get(), &Connection::Arrived, this, [&] { got += accepted->Take(); });
        accepted->SetReadPaused(false);
        QTRY_COMPARE(ends.count(), 1);
        QCOMPARE(got, QByteArray("held"));
    }
};

QTEST_GUILESS_MAIN(tst_Sockets)
#include "tst_sockets.moc"
