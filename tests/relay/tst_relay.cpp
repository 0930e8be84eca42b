// The relay end to end over real loopback sockets: a scripted mail server that controls block
// boundaries, the relay, and a test client.
#include "digest/MD5Hash.h"
#include "relay/ClientCommand.h"
#include "relay/Relay.h"
#include "support/RelayRig.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <sys/socket.h>

namespace {
const QByteArray RfcGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
} // namespace

class RelayTest : public QObject, RelayRig {
    Q_OBJECT

    void ConnectClient(const QByteArray& greeting = RfcGreeting) {
        RelayRig::ConnectClient(greeting);
    }

    // Sends a client line and waits until the server got exactly what is expected.
    void ClientSends(const QByteArray& bytes, const QByteArray& serverExpects) {
        server->received.clear();
        client->Send(bytes);
        QTRY_COMPARE(server->received, serverExpects);
    }

private Q_SLOTS:
    void init() { SetUpRig(); }

    void cleanup() { TearDownRig(); }

    void greetingIsCapturedLoggedAndForwarded() {
        ConnectClient();
        QCOMPARE(relay->State().Greed, RfcGreeting);
        QVERIFY(relay->State().AddB);
        QCOMPARE(view->list1, QList<QByteArray>{RfcGreeting.chopped(2)});
        QVERIFY(view->visible);
        QCOMPARE(view->Picture(), 2);

        server->Send("+OK second\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + "+OK second\r\n");
        QCOMPARE(relay->State().Greed, RfcGreeting);
    }

    void logShowsCompleteLinesAndForwardingStaysIntact() {
        ConnectClient();
        server->Send("a\r\nb");
        QTRY_COMPARE(client->received, RfcGreeting + "a\r\nb");
        server->Send("c\r\n\r\nd\re\nf\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + "a\r\nbc\r\n\r\nd\re\nf\r\n");
        // The continuation shows as an entry of its own; a lone CR or LF does not cut.
        const QList<QByteArray> expected{RfcGreeting.chopped(2), "a", "c", "", "d\re\nf"};
        QCOMPARE(view->list1, expected);
        server->Send("no line end");
        QTRY_VERIFY(client->received.endsWith("no line end"));
        QCOMPARE(view->list1, expected);
    }

    void userIsAnsweredLocallyAndPassBecomesApop() {
        ConnectClient();
        client->Send("USER mrose\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->State().USER, QByteArray("mrose"));
        QCOMPARE(server->received, QByteArray());
        QCOMPARE(view->Picture(), 3);

        ClientSends("PASS tanstaaf\r\n", "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n");
        QCOMPARE(view->list2, (QList<QByteArray>{"USER mrose", MaskedPassLine}));
        QCOMPARE(relay->State().PASS, QByteArray("tanstaaf"));
    }

    void commandWordsSetCom_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("com");
        QTest::newRow("RETR") << QByteArray("RETR 1\r\n") << QByteArray("RES");
        QTest::newRow("lower-case retr") << QByteArray("retr 1\r\n") << QByteArray();
        QTest::newRow("RETR without number") << QByteArray("RETR\r\n") << QByteArray();
        QTest::newRow("TOP") << QByteArray("TOP 1 0\r\n") << QByteArray();
        QTest::newRow("lower-case user") << QByteArray("user bob\r\n") << QByteArray();
    }
    void commandWordsSetCom() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, com);
        ConnectClient();
        ClientSends("RETR 9\r\n", "RETR 9\r\n");
        QCOMPARE(relay->State().Com, QByteArray("RES"));
        ClientSends(command, command);
        QCOMPARE(relay->State().Com, com);
        QCOMPARE(view->list2.last(), command.chopped(2));
    }

    void lowerCasePassStaysReadable() {
        ConnectClient();
        ClientSends("pass secret\r\n", "pass secret\r\n");
        QCOMPARE(view->list2, QList<QByteArray>{"pass secret"});
    }

    void wordsAreCutAtSpaces() {
        ConnectClient();
        client->Send("USER  bob\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->State().USER, QByteArray());
        client->Send("USER bob smith\r\n");
        QTRY_COMPARE(relay->State().USER, QByteArray("bob"));
    }

    // The client's end reaches the server (without a QUIT it never sent), whose close ends
    // the conversation.
    void clientClosingFirstEndsTheServerConnectionToo() {
        ConnectClient();
        client->Send("STAT\r\n");
        client->socket.disconnectFromHost();
        QTRY_VERIFY(server->peerClosed);
        QCOMPARE(server->received, QByteArray("STAT\r\n"));
        QTRY_COMPARE(relay->Winsock2().State(), int(SocketEndpoint::Listening));
        QCOMPARE(view->Picture(), 1);
        QVERIFY(!view->visible);
        QVERIFY(!relay->State().AddB);
        QCOMPARE(relay->Winsock1().State(), int(SocketEndpoint::Closed));
    }

    // Once the server's connection ends, the client gets what was still on its way and then
    // its EOF, as a direct connection would; the window goes with the last client.
    void serverClosingEndsTheClientConnectionWithinASecond_data() {
        QTest::addColumn<QByteArray>("lastCommand");
        QTest::addColumn<bool>("reset");
        QTest::newRow("after QUIT") << QByteArray("QUIT\r\n") << false;
        QTest::newRow("mid-RETR") << QByteArray("RETR 1\r\n") << false;
        QTest::newRow("reset mid-RETR") << QByteArray("RETR 1\r\n") << true;
    }
    void serverClosingEndsTheClientConnectionWithinASecond() {
        QFETCH(QByteArray, lastCommand);
        QFETCH(bool, reset);
        ConnectClient();
        ClientSends(lastCommand, lastCommand);
        const QByteArray last = lastCommand == "QUIT\r\n"
                                    ? QByteArray("+OK bye\r\n")
                                    : "+OK 9000 octets\r\n" + QByteArray(9000, 'm');
        server->Send(last);
        QTRY_COMPARE(client->received, RfcGreeting + last);
        QElapsedTimer sinceClose;
        sinceClose.start();
        reset ? server->connection->abort() : server->CloseConnection();
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(sinceClose.elapsed() < 1000, QByteArray::number(sinceClose.elapsed()));
        QCOMPARE(client->received, RfcGreeting + last);
        QTRY_VERIFY(!view->visible);
        QCOMPARE(view->Picture(), 1);
        QCOMPARE(relay->Winsock2().State(), int(SocketEndpoint::Listening));
        QCOMPARE(relay->Winsock1().State(), int(SocketEndpoint::Closed));
        ConnectClient(); // and the next one is served
    }

    void nextClientRecapturesTheGreetingAndClearsLogs() {
        ConnectClient("+OK first <1@a>\r\n");
        client->Send("STAT\r\n");
        QTRY_COMPARE(server->received, QByteArray("STAT\r\n"));
        server->CloseConnection();
        QTRY_VERIFY(!relay->State().AddB);
        client->socket.disconnectFromHost();
        QTRY_COMPARE(relay->Winsock2().State(), int(SocketEndpoint::Listening));

        ConnectClient("+OK second <2@b>\r\n");
        QCOMPARE(relay->State().Greed, QByteArray("+OK second <2@b>\r\n"));
        QCOMPARE(view->list1, QList<QByteArray>{"+OK second <2@b>"});
        QCOMPARE(view->list2, QList<QByteArray>());
        QCOMPARE(server->connections, 2);
    }

    // A client that drops without QUIT leaves the server connection open; the next client must
    // still get a fresh connection, a fresh greeting and a login built from it.
    void staleServerConnectionIsReplaced() {
        ConnectClient("+OK one <1.1@x>\r\n");
        client->socket.abort();
        QTRY_COMPARE(relay->Winsock2().State(), int(SocketEndpoint::Listening));
        QTRY_VERIFY(server->peerClosed); // the server connection went with its client

        ConnectClient("+OK two <2.2@x>\r\n");
        QCOMPARE(server->connections, 2);
        QCOMPARE(relay->State().Greed, QByteArray("+OK two <2.2@x>\r\n"));
        client->Send("USER u\r\n");
        QTRY_COMPARE(client->received, QByteArray("+OK two <2.2@x>\r\n") + UserReply);
        ClientSends("PASS p\r\n", "APOP u " + DigestBytes("<2.2@x>p").toLatin1() + "\r\n");
    }

    void timestampIsTheFirstBracketedStamp_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QByteArray>("stamp");
        QTest::newRow("stamp at the end")
            << QByteArray("+OK ready <a.b@c>\r\n") << QByteArray("<a.b@c>");
        QTest::newRow("text after the stamp")
            << QByteArray("+OK <a.b@c> ready\r\n") << QByteArray("<a.b@c>");
        QTest::newRow("no CR LF") << QByteArray("+OK <a.b@c>") << QByteArray("<a.b@c>");
    }
    void timestampIsTheFirstBracketedStamp() {
        QFETCH(QByteArray, greeting);
        QFETCH(QByteArray, stamp);
        ConnectClient(greeting);
        client->Send("USER u\r\n");
        QTRY_VERIFY(client->received.endsWith(UserReply));
        ClientSends("PASS secret\r\n",
                    "APOP u " + DigestBytes(stamp + "secret").toLatin1() + "\r\n");
    }

    void noTimestampRefusesTheLoginWithoutSendingThePassword_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::newRow("no stamp") << QByteArray("+OK ready\r\n");
        QTest::newRow("open bracket only") << QByteArray("+OK ready <\r\n");
        QTest::newRow("close before open") << QByteArray("+OK > ready <x\r\n");
    }
    void noTimestampRefusesTheLoginWithoutSendingThePassword() {
        QFETCH(QByteArray, greeting);
        ConnectClient(greeting);
        client->Send("USER u\r\nPASS secret\r\n");
        QTRY_COMPARE(client->received, greeting + UserReply + NoTimestampReply);
        QCOMPARE(view->list2, (QList<QByteArray>{"USER u", MaskedPassLine}));
        // Nothing went upstream: the next command is the first thing the server sees.
        ClientSends("NOOP\r\n", "NOOP\r\n");
    }

    void pipelinedLoginCommandsAreHandledOneByOne() {
        ConnectClient();
        client->Send("USER mrose\r\nPASS tanstaaf\r\nSTAT\r\nLIST\r\n");
        QTRY_COMPARE(server->received,
                     QByteArray("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nLIST\r\n"));
        QCOMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->State().PASS, QByteArray("tanstaaf"));
        QCOMPARE(view->list2, (QList<QByteArray>{"USER mrose", MaskedPassLine, "STAT", "LIST"}));
        QCOMPARE(relay->State().Com, QByteArray());
    }

    // A command that crosses the server's close goes nowhere: at most the client is told the
    // server is not connected, and its connection ends.
    void commandWhileServerIsNotConnectedGetsNoAnswerFromIt() {
        ConnectClient();
        server->CloseConnection();
        client->Send("STAT\r\n");
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(client->received == RfcGreeting ||
                     client->received == RfcGreeting + Relay::ServerNotConnectedReply,
                 client->received.constData());
        QCOMPARE(server->received, QByteArray());
    }

    void unreachableServerIsReportedAndTheClientReleased() {
        relay.reset();
        StartRelay(FreeLoopbackPort());
        view->visible = false;
        QSignalSpy failed(relay.get(), &Relay::ServerConnectFailed);
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->Winsock2().LocalPort());
        ExpectClientReleased(failed);

        // And it still serves the next client once the server is there.
        relay.reset();
        StartRelay(server->Port());
        ConnectClient();
    }

    void retrReplyGoesThroughTheTagging() {
        view->list3 = QStringList{QStringLiteral("GB2312")};
        ConnectClient();
        ClientSends("RETR 1\r\n", "RETR 1\r\n");
        server->Send("+OK 100 octets\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + "+OK 100 octets\r\n");
        const QByteArray header = "Return-Path: <x>\r\nSubject: Hello\r\n"
                                  "Content-Type: text/plain; charset=gb2312\r\n\r\nbody\r\n";
        server->Send(header);
        QByteArray tagged = header;
        tagged.replace("Subject: Hello", "Subject: [VudOdirOro]Hello");
        QTRY_COMPARE(client->received, RfcGreeting + "+OK 100 octets\r\n" + tagged);
        // The status line block is not inspected and so not logged; the header block is.
        QCOMPARE(view->list1.size(), 1 + 5);
        QCOMPARE(view->list1[2], QByteArray("Subject: [VudOdirOro]Hello"));
    }

    // A scripted fetch writes all its commands and then shuts its sending side: every reply
    // still reaches it and is logged, and its connection ends after the server's close.
    void halfClosingClientGetsEveryReply() {
        ConnectClient();
        const QList<QPair<QByteArray, QByteArray>> answers{
            {"APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "+OK maildrop ready\r\n"},
            {"RETR 1\r\n", "+OK 12 octets\r\nSubject: a\r\n\r\n.\r\n"},
            {"DELE 1\r\n", "+OK deleted\r\n"},
            {"QUIT\r\n", "+OK bye\r\n"}};
        // Answers each command as soon as it is read, before the client's end is seen.
        qsizetype answered = 0;
        QByteArray expectedServer;
        for (const auto& answer : answers) {
            expectedServer += answer.first;
        }
        connect(server->connection, &QTcpSocket::readyRead, this, [&] {
            while (answered < answers.size() &&
                   server->received.size() >= expectedServer.indexOf(answers[answered].first) +
                                                  answers[answered].first.size()) {
                server->Send(answers[answered++].second);
            }
        });
        client->Send("USER mrose\r\nPASS tanstaaf\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n");
        QVERIFY(::shutdown(int(client->socket.socketDescriptor()), SHUT_WR) == 0);
        QTRY_VERIFY(server->peerClosed);
        QCOMPARE(server->received, expectedServer);
        QByteArray replies = RfcGreeting + UserReply;
        for (const auto& answer : answers) {
            replies += answer.second;
        }
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(client->received, replies);
        QCOMPARE(view->list2.size(), 5);
        QCOMPARE(relay->Winsock2().State(), int(SocketEndpoint::Listening));
    }

    void consoleRows() {
        QCOMPARE(relay->ConsoleSend(1, "x"), Relay::ConsoleResult::ClientNotConnected);
        QCOMPARE(relay->ConsoleSend(0, "x"), Relay::ConsoleResult::ServerConnectStarted);
        QTRY_VERIFY(server->Connected());
        QTRY_COMPARE(relay->Winsock1().State(), int(SocketEndpoint::Connected));
        QCOMPARE(relay->ConsoleSend(0, "PASS typed"), Relay::ConsoleResult::Sent);
        QTRY_COMPARE(server->received, QByteArray("PASS typed\r\n"));
        QCOMPARE(view->list2, QList<QByteArray>()); // console lines are not logged
    }

    void consoleReachesAConnectedClientAndLeavesComAlone() {
        ConnectClient();
        ClientSends("RETR 1\r\n", "RETR 1\r\n");
        QCOMPARE(relay->ConsoleSend(1, ""), Relay::ConsoleResult::Sent);
        QTRY_COMPARE(client->received, RfcGreeting + "\r\n");
        QCOMPARE(relay->ConsoleSend(0, "NOOP"), Relay::ConsoleResult::Sent);
        QCOMPARE(relay->State().Com, QByteArray("RES"));
    }
};

QTEST_GUILESS_MAIN(RelayTest)
#include "tst_relay.moc"
