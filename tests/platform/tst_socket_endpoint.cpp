// The socket endpoint on 127.0.0.1: the state numbers and the three events the relay relies on.
#include "platform/SocketEndpoint.h"
#include "support/LoopbackPeers.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <QProcess>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

class tst_SocketEndpoint : public QObject {
    Q_OBJECT

    // A listening endpoint that accepts the first request on itself, as the relay does.
    static void AcceptOnItself(SocketEndpoint& endpoint) {
        QObject::connect(&endpoint, &SocketEndpoint::ConnectionRequest, &endpoint,
                         [&endpoint](qint32 id) {
                             endpoint.Close();
                             QVERIFY(endpoint.Accept(id).ok);
                         });
    }

    static void Listen(SocketEndpoint& endpoint) {
        endpoint.SetLocalAddress(QHostAddress::LocalHost);
        endpoint.SetLocalPort(0);
        QVERIFY(endpoint.Listen().ok);
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Listening));
    }

private Q_SLOTS:
    // A listener that found no descriptor left for a connection (too many open at once) serves
    // the next client once descriptors are free again, instead of never accepting any more.
    void listenerAcceptsAgainAfterRunningOutOfDescriptors() {
        SocketEndpoint listener;
        Listen(listener);
        QSignalSpy requests(&listener, &SocketEndpoint::ConnectionRequest);
        // The client is another process, so that only this one runs short of descriptors.
        QProcess client;
        client.start(
            QStringLiteral("python3"),
            {QStringLiteral("-c"), QStringLiteral("import socket,time\n"
                                                  "s=socket.create_connection(('127.0.0.1',%1))\n"
                                                  "time.sleep(1.5)\n"
                                                  "t=socket.create_connection(('127.0.0.1',%1))\n"
                                                  "time.sleep(3)")
                                       .arg(listener.LocalPort())});
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
        QCOMPARE(listener.State(), int(SocketEndpoint::Listening));
        client.waitForFinished(6000);
    }

    void listenAcceptAndDataBothWays() {
        SocketEndpoint endpoint;
        Listen(endpoint);
        AcceptOnItself(endpoint);
        QSignalSpy arrivals(&endpoint, &SocketEndpoint::DataArrival);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, endpoint.LocalPort());
        QTRY_COMPARE(endpoint.State(), int(SocketEndpoint::Connected));

        peer.write(QByteArray("hello\r\n\x80\xff", 9));
        QTRY_VERIFY(!arrivals.isEmpty());
        QCOMPARE(arrivals.first().first().toInt(), 9);
        QCOMPARE(endpoint.GetData(), QByteArray("hello\r\n\x80\xff", 9));
        QCOMPARE(endpoint.GetData(), QByteArray());

        QVERIFY(endpoint.SendData("reply\r\n").ok);
        QTRY_COMPARE(peer.bytesAvailable(), 7);
        QCOMPARE(peer.readAll(), QByteArray("reply\r\n"));
    }

    void peerCloseGivesStateEightThenTheEventThenCloseAllowsListenAgain() {
        SocketEndpoint endpoint;
        Listen(endpoint);
        const quint16 port = endpoint.LocalPort();
        AcceptOnItself(endpoint);
        int stateAtEvent = -1;
        QSignalSpy closes(&endpoint, &SocketEndpoint::CloseEvent);
        connect(&endpoint, &SocketEndpoint::CloseEvent, this,
                [&] { stateAtEvent = endpoint.State(); });

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(endpoint.State(), int(SocketEndpoint::Connected));
        peer.write("last words");
        peer.disconnectFromHost();
        QTRY_COMPARE(closes.count(), 1);
        QCOMPARE(stateAtEvent, int(SocketEndpoint::Closing));
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Closing));
        QCOMPARE(endpoint.GetData(), QByteArray("last words"));
        // The peer might only have finished its own sending, so writing goes on; this one has
        // gone entirely, which shows once a write fails.
        QSignalSpy errors(&endpoint, &SocketEndpoint::ErrorEvent);
        QTRY_VERIFY(!endpoint.SendData("too late").ok);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Error));

        endpoint.Close();
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Closed));
        QVERIFY(endpoint.Listen().ok);
        QCOMPARE(endpoint.LocalPort(), port);
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(endpoint.State(), int(SocketEndpoint::Connected));
    }

    // A client that half-closes still gets every reply; the listener keeps listening meanwhile,
    // and FinishSending ends the conversation with the peer's EOF.
    void halfClosedPeerStillReceivesWhileTheListenerListens() {
        SocketEndpoint listener;
        Listen(listener);
        SocketEndpoint accepted;
        connect(&listener, &SocketEndpoint::ConnectionRequest, this,
                [&](qint32 id) { QVERIFY(listener.AcceptInto(id, accepted).ok); });
        QSignalSpy closes(&accepted, &SocketEndpoint::CloseEvent);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
        QTRY_COMPARE(accepted.State(), int(SocketEndpoint::Connected));
        QCOMPARE(listener.State(), int(SocketEndpoint::Listening));
        QCOMPARE(accepted.LocalPort(), listener.LocalPort());
        peer.write("RETR 1\r\nQUIT\r\n");
        peer.flush();
        QVERIFY(::shutdown(int(peer.socketDescriptor()), SHUT_WR) == 0);
        QTRY_COMPARE(closes.count(), 1);
        QCOMPARE(accepted.GetData(), QByteArray("RETR 1\r\nQUIT\r\n"));

        const QByteArray reply = "+OK\r\n" + QByteArray(16 * 1024 * 1024, 'x') + "\r\n.\r\n";
        QVERIFY(accepted.SendData(reply).ok);
        QVERIFY(accepted.BytesToWrite() > 0); // more than the kernel takes at once
        accepted.FinishSending();
        QByteArray got;
        connect(&peer, &QTcpSocket::readyRead, this, [&] { got += peer.readAll(); });
        QTRY_COMPARE(peer.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(got.size(), reply.size());
        QCOMPARE(got, reply);

        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
        QVERIFY(next.waitForConnected(2000));
    }

    void connectToAClosedPortEndsInStateNine() {
        const quint16 closedPort = FreeLoopbackPort();
        SocketEndpoint endpoint;
        QSignalSpy errors(&endpoint, &SocketEndpoint::ErrorEvent);
        QSignalSpy closes(&endpoint, &SocketEndpoint::CloseEvent);
        endpoint.SetRemoteHost(QStringLiteral("127.0.0.1"));
        endpoint.SetRemotePort(closedPort);
        QVERIFY(endpoint.Connect().ok);
        QTRY_COMPARE(endpoint.State(), int(SocketEndpoint::Error));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(closes.count(), 0);
        QVERIFY(!endpoint.ErrorText().isEmpty());
        endpoint.Close();
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Closed));
    }

    void refusedOperationsComeBackAsResults() {
        SocketEndpoint endpoint;
        QVERIFY(!endpoint.SendData("x").ok);
        QVERIFY(!endpoint.Accept(42).ok);
        Listen(endpoint);
        QVERIFY(!endpoint.Connect().ok);
        QVERIFY(!endpoint.Listen().ok);
        QCOMPARE(endpoint.State(), int(SocketEndpoint::Listening));

        SocketEndpoint rival;
        rival.SetLocalAddress(QHostAddress::LocalHost);
        rival.SetLocalPort(endpoint.LocalPort());
        const SocketResult busy = rival.Listen();
        QVERIFY(!busy.ok);
        QVERIFY(!busy.error.isEmpty());
        QCOMPARE(rival.State(), int(SocketEndpoint::Closed));
    }

    void pausedReadingHoldsDataAndTheCloseBehindIt() {
        SocketEndpoint endpoint;
        Listen(endpoint);
        AcceptOnItself(endpoint);
        QSignalSpy arrivals(&endpoint, &SocketEndpoint::DataArrival);
        QSignalSpy closes(&endpoint, &SocketEndpoint::CloseEvent);

        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, endpoint.LocalPort());
        QTRY_COMPARE(endpoint.State(), int(SocketEndpoint::Connected));
        endpoint.SetReadPaused(true);
        peer.write("held");
        peer.disconnectFromHost();
        QTest::qWait(100); // nothing may be delivered while paused; give it the chance
        QCOMPARE(arrivals.count(), 0);
        QCOMPARE(closes.count(), 0);

        QByteArray got;
        connect(&endpoint, &SocketEndpoint::DataArrival, this, [&] { got += endpoint.GetData(); });
        endpoint.SetReadPaused(false);
        QTRY_COMPARE(closes.count(), 1);
        QCOMPARE(got, QByteArray("held"));
    }
};

QTEST_GUILESS_MAIN(tst_SocketEndpoint)
#include "tst_socket_endpoint.moc"
