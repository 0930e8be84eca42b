// The relay end to end over real loopback sockets: a scripted mail server that controls block
// boundaries, the relay, and a test client.
#include "digest/MD5Hash.h"
#include "relay/ClientCommand.h"
#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "support/RelayRig.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <sys/socket.h>

namespace {
const QByteArray RfcStamp = "<1896.697170952@dbc.mtview.ca.us>";
const QByteArray RfcGreeting = "+OK POP3 server ready " + RfcStamp + "\r\n";

// Computed apart from the relay's own digest code.
QByteArray Md5Hex(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}
} // namespace

class tst_Relay : public QObject, RelayRig {
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
        QCOMPARE(relay->LatestSession()->Login().greeting, RfcGreeting);
        QVERIFY(LatestGreeted(*relay));
        QCOMPARE(view->serverLog, QList<QByteArray>{RfcGreeting.chopped(2)});
        QVERIFY(view->visible);
        QCOMPARE(view->Picture(), TrayPicture::ServerData);

        server->Send("+OK second\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + "+OK second\r\n");
        QCOMPARE(relay->LatestSession()->Login().greeting, RfcGreeting);
    }

    void logShowsCompleteLinesAndForwardingStaysIntact() {
        ConnectClient();
        server->Send("a\r\nb");
        QTRY_COMPARE(client->received, RfcGreeting + "a\r\nb");
        server->Send("c\r");
        QTRY_COMPARE(client->received, RfcGreeting + "a\r\nbc\r");
        server->Send("\n\r\nd\re\nf\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + "a\r\nbc\r\n\r\nd\re\nf\r\n");
        // A line cut between reads, even between its CR and LF, is one entry; a lone CR or LF
        // does not cut.
        QList<QByteArray> expected{RfcGreeting.chopped(2), "a", "bc", "", "d\re\nf"};
        QCOMPARE(view->serverLog, expected);
        server->Send("no line end");
        QTRY_VERIFY(client->received.endsWith("no line end"));
        QCOMPARE(view->serverLog, expected);
        // The connection ends inside the line: it is shown as far as it came.
        server->CloseConnection();
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        expected.append("no line end");
        QCOMPARE(view->serverLog, expected);
    }

    void userIsAnsweredLocallyAndPassBecomesApop() {
        ConnectClient();
        client->Send("USER mrose\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->LatestSession()->Login().user, QByteArray("mrose"));
        QCOMPARE(server->received, QByteArray());
        QCOMPARE(view->Picture(), TrayPicture::ClientData);

        ClientSends("PASS tanstaaf\r\n", "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n");
        QCOMPARE(view->clientLog, (QList<QByteArray>{"USER mrose", MaskedPassLine}));
        QCOMPARE(relay->LatestSession()->Login().password, QByteArray("tanstaaf"));
    }

    // Each command forwarded puts the kind of its reply at the end of the reply kind queue.
    void commandWordsSetTheReplyExpected_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<ReplyKind>("kind");
        QTest::newRow("RETR") << QByteArray("RETR 1\r\n") << ReplyKind::Retr;
        QTest::newRow("lower-case retr") << QByteArray("retr 1\r\n") << ReplyKind::Retr;
        QTest::newRow("RETR without number") << QByteArray("RETR\r\n") << ReplyKind::Retr;
        QTest::newRow("TOP") << QByteArray("TOP 1 0\r\n") << ReplyKind::MultiLine;
        QTest::newRow("bare LF") << QByteArray("Retr 2\n") << ReplyKind::Retr;
    }
    void commandWordsSetTheReplyExpected() {
        QFETCH(QByteArray, command);
        QFETCH(ReplyKind, kind);
        ConnectClient();
        ClientSends("RETR 9\r\n", "RETR 9\r\n");
        QCOMPARE(relay->LatestSession()->ExpectedReplies(), QList<ReplyKind>{ReplyKind::Retr});
        ClientSends(command, command);
        QCOMPARE(relay->LatestSession()->ExpectedReplies(),
                 (QList<ReplyKind>{ReplyKind::Retr, kind}));
        QCOMPARE(view->clientLog.last(), command.trimmed());
    }

    // However the client's lines arrive and in whatever letter case, the password goes upstream
    // only inside the APOP digest and shows in no log; every reply comes in command order.
    void passwordNeverLeavesInClear_data() {
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::addColumn<QByteArray>("serverGets");
        QTest::addColumn<QByteArray>("serverAnswers");
        QTest::addColumn<QByteArray>("clientGets");
        const QByteArray apop = "APOP alice " + Md5Hex(RfcStamp + "secret") + "\r\n";
        const QByteArray user = UserReply;
        QTest::newRow("behind other commands in one arrival")
            << QList<QByteArray>{"CAPA\r\nUSER alice\r\nPASS secret\r\nRETR 1\r\n"}
            << "CAPA\r\n" + apop + "RETR 1\r\n"
            << QByteArray("+OK\r\nUSER\r\n.\r\n+OK in\r\n+OK 3\r\nx\r\n.\r\n")
            << "+OK\r\nUSER\r\nSASL PLAIN LOGIN\r\n.\r\n" + user + "+OK in\r\n+OK 3\r\nx\r\n.\r\n";
        QTest::newRow("cut across two arrivals")
            << QList<QByteArray>{"USER alice\r\nPASS secr", "et\r\n"} << apop
            << QByteArray("+OK in\r\n") << user + "+OK in\r\n";
        QTest::newRow("cut across three arrivals")
            << QList<QByteArray>{"STAT\r\nUSER alice\r\nPA", "SS sec", "ret\r\nNOOP\r\n"}
            << "STAT\r\n" + apop + "NOOP\r\n"
            << QByteArray("+OK 0 0\r\n+OK in\r\n+OK\r\n")
            << "+OK 0 0\r\n" + user + "+OK in\r\n+OK\r\n";
        QTest::newRow("behind a cut USER line")
            << QList<QByteArray>{"USER al", "ice\r\nPASS secret\r\n"} << apop
            << QByteArray("+OK in\r\n") << user + "+OK in\r\n";
        QTest::newRow("bare LF") << QList<QByteArray>{"USER alice\nPASS secret\n"} << apop
                                 << QByteArray("+OK in\r\n") << user + "+OK in\r\n";
        QTest::newRow("lower case") << QList<QByteArray>{"user alice\r\npass secret\r\n"} << apop
                                    << QByteArray("+OK in\r\n") << user + "+OK in\r\n";
        QTest::newRow("mixed case") << QList<QByteArray>{"User alice\r\n", "Pass secret\r\n"}
                                    << apop << QByteArray("+OK in\r\n") << user + "+OK in\r\n";
    }
    void passwordNeverLeavesInClear() {
        QFETCH(QList<QByteArray>, arrivals);
        QFETCH(QByteArray, serverGets);
        QFETCH(QByteArray, serverAnswers);
        QFETCH(QByteArray, clientGets);
        ConnectClient();
        for (const QByteArray& arrival : arrivals) {
            // One small write is one arrival once the relay has read it before the next.
            const int before = view->pictures.count(TrayPicture::ClientData);
            client->Send(arrival);
            QTRY_VERIFY(view->pictures.count(TrayPicture::ClientData) > before);
        }
        QTRY_COMPARE(server->received, serverGets);
        server->Send(serverAnswers);
        QTRY_COMPARE(client->received, RfcGreeting + clientGets);
        QVERIFY(!server->received.contains("secret"));
        QVERIFY(view->clientLog.contains(MaskedPassLine));
        for (const QByteArray& line : view->clientLog) {
            QVERIFY2(!line.contains("secret"), line.constData());
        }
        QCOMPARE(relay->LatestSession()->Login().user, QByteArray("alice"));
    }

    void capaReplyHidesSaslAndStls_data() {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::addColumn<QByteArray>("clientGets");
        QTest::newRow("SASL last")
            << QList<QByteArray>{"+OK\r\nTOP\r\nUIDL\r\nSTLS\r\nSASL PLAIN\r\n.\r\n"}
            << QByteArray("+OK\r\nTOP\r\nUIDL\r\n.\r\n");
        QTest::newRow("split over two blocks")
            << QList<QByteArray>{"+OK Capability list follows\r\nTOP\r\nSA",
                                 "SL PLAIN LOGIN\r\nsasl-ish\r\nstls\r\n.\r\n"}
            << QByteArray("+OK Capability list follows\r\nTOP\r\nsasl-ish\r\n.\r\n");
        QTest::newRow("error") << QList<QByteArray>{"-ERR no\r\n"} << QByteArray("-ERR no\r\n");
    }
    // With TLS toward the clients switched off, as before it came.
    void capaReplyHidesSaslAndStls() {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QByteArray, clientGets);
        settings->clientTls.enabled = false;
        ConnectClient();
        ClientSends("CAPA\r\n", "CAPA\r\n");
        for (const QByteArray& block : blocks) {
            server->Send(block);
            QTRY_VERIFY(view->pictures.count(TrayPicture::ServerData) > 1 + blocks.indexOf(block));
        }
        // A reply behind it is untouched: the end of the CAPA reply was found.
        ClientSends("NOOP\r\n", "NOOP\r\n");
        server->Send("+OK SASL\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + clientGets + "+OK SASL\r\n");
    }

    // With TLS toward the clients switched off, SASL would carry the password in clear, and STLS
    // would hide the conversation from Quorlin: both are refused without a word to the server,
    // a SASL continuation included.
    void authAndStlsAreAnsweredLocally_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("logged");
        const QByteArray auth = AuthRefusedReply;
        QTest::newRow("AUTH") << QByteArray("AUTH\r\n") << auth << QByteArray("AUTH");
        QTest::newRow("auth plain")
            << QByteArray("auth plain\r\n") << auth << QByteArray("auth plain");
        QTest::newRow("initial response") << QByteArray("AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n")
                                          << auth << QByteArray("AUTH PLAIN");
        QTest::newRow("continuation") << QByteArray("AUTH PLAIN\r\nAGFsaWNlAHNlY3JldA==\r\n")
                                      << auth + auth << QByteArray("AUTH PLAIN");
        QTest::newRow("STLS") << QByteArray("STLS\r\n") << QByteArray(StlsRefusedReply)
                              << QByteArray("STLS");
    }
    void authAndStlsAreAnsweredLocally() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, logged);
        settings->clientTls.enabled = false;
        ConnectClient();
        client->Send(command);
        QTRY_COMPARE(client->received, RfcGreeting + reply);
        QVERIFY(reply.startsWith("-ERR "));
        ClientSends("NOOP\r\n", "NOOP\r\n"); // the first thing the server sees
        QCOMPARE(view->clientLog, (QList<QByteArray>{logged, "NOOP"}));
    }

    void wordsAreCutAtSpaces() {
        ConnectClient();
        client->Send("USER  bob\r\n");
        QTRY_COMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->LatestSession()->Login().user, QByteArray());
        client->Send("USER bob smith\r\n");
        QTRY_COMPARE(relay->LatestSession()->Login().user, QByteArray("bob"));
    }

    // The client's end reaches the server (without a QUIT it never sent), whose close ends
    // the conversation.
    void clientClosingFirstEndsTheServerConnectionToo() {
        ConnectClient();
        client->Send("STAT\r\n");
        client->socket.disconnectFromHost();
        QTRY_VERIFY(server->peerClosed);
        QCOMPARE(server->received, QByteArray("STAT\r\n"));
        QTRY_VERIFY(RelayIdle(*relay));
        QCOMPARE(view->Picture(), TrayPicture::Idle);
        QVERIFY(!view->visible);
        QVERIFY(!LatestGreeted(*relay));
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
        QCOMPARE(view->Picture(), TrayPicture::Idle);
        QVERIFY(RelayIdle(*relay));
        QCOMPARE(relay->SessionCount(), 0);
        ConnectClient(); // and the next one is served
    }

    void nextClientRecapturesTheGreetingAndClearsLogs() {
        ConnectClient("+OK first <1@a>\r\n");
        client->Send("STAT\r\n");
        QTRY_COMPARE(server->received, QByteArray("STAT\r\n"));
        server->CloseConnection();
        QTRY_VERIFY(!LatestGreeted(*relay));
        client->socket.disconnectFromHost();
        QTRY_VERIFY(RelayIdle(*relay));

        ConnectClient("+OK second <2@b>\r\n");
        QCOMPARE(relay->LatestSession()->Login().greeting, QByteArray("+OK second <2@b>\r\n"));
        QCOMPARE(view->serverLog, QList<QByteArray>{"+OK second <2@b>"});
        QCOMPARE(view->clientLog, QList<QByteArray>());
        QCOMPARE(server->connections, 2);
    }

    // The loopback address is both: a client that tries ::1 first reaches Quorlin, and no other
    // program can take ::1 on Quorlin's port.
    void loopbackListensOnBothAddresses() {
        server->greeting = "+OK hi <1@a>\r\n";
        for (const QHostAddress& address :
             {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
            client = std::make_unique<TestClient>();
            client->socket.connectToHost(address, relay->ListeningPort());
            QTRY_COMPARE(client->received, server->greeting);
            client.reset();
            QTRY_VERIFY(RelayIdle(*relay));
        }
        QTcpServer other;
        QVERIFY(!other.listen(QHostAddress::LocalHostIPv6, relay->ListeningPort()));
    }

    // A client that drops without QUIT leaves the server connection open; the next client must
    // still get a fresh connection, a fresh greeting and a login built from it.
    void staleServerConnectionIsReplaced() {
        ConnectClient("+OK one <1.1@x>\r\n");
        client->socket.abort();
        QTRY_VERIFY(RelayIdle(*relay));
        QTRY_VERIFY(server->peerClosed); // the server connection went with its client

        ConnectClient("+OK two <2.2@x>\r\n");
        QCOMPARE(server->connections, 2);
        QCOMPARE(relay->LatestSession()->Login().greeting, QByteArray("+OK two <2.2@x>\r\n"));
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
        QCOMPARE(view->clientLog, (QList<QByteArray>{"USER u", MaskedPassLine}));
        // Nothing went upstream: the next command is the first thing the server sees.
        ClientSends("NOOP\r\n", "NOOP\r\n");
    }

    void pipelinedLoginCommandsAreHandledOneByOne() {
        ConnectClient();
        client->Send("USER mrose\r\nPASS tanstaaf\r\nSTAT\r\nLIST\r\n");
        QTRY_COMPARE(server->received,
                     QByteArray("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nLIST\r\n"));
        QCOMPARE(client->received, RfcGreeting + UserReply);
        QCOMPARE(relay->LatestSession()->Login().password, QByteArray("tanstaaf"));
        QCOMPARE(view->clientLog,
                 (QList<QByteArray>{"USER mrose", MaskedPassLine, "STAT", "LIST"}));
        QCOMPARE(
            relay->LatestSession()->ExpectedReplies(),
            (QList<ReplyKind>{ReplyKind::SingleLine, ReplyKind::SingleLine, ReplyKind::MultiLine}));
    }

    // A command that crosses the server's close goes nowhere: at most the client is told the
    // server is not connected, and its connection ends.
    void commandWhileServerIsNotConnectedGetsNoAnswerFromIt() {
        ConnectClient();
        server->CloseConnection();
        client->Send("STAT\r\n");
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(client->received == RfcGreeting ||
                     client->received == RfcGreeting + ServerNotConnectedReply,
                 client->received.constData());
        QCOMPARE(server->received, QByteArray());
    }

    void unreachableServerIsReportedAndTheClientReleased() {
        relay.reset();
        StartRelay(FreeLoopbackPort());
        view->visible = false;
        QSignalSpy failed(relay.get(), &Relay::ServerConnectFailed);
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        ExpectClientReleased(failed,
                             "-ERR Cannot connect to the mail server: Connection refused.\r\n");

        // And it still serves the next client once the server is there.
        relay.reset();
        StartRelay(server->Port());
        ConnectClient();
    }

    void retrReplyGoesThroughTheTagging() {
        settings->blockedCharsets = QStringList{QStringLiteral("GB2312")};
        ConnectClient();
        ClientSends("RETR 1\r\n", "RETR 1\r\n");
        const int blocks = view->pictures.count(TrayPicture::ServerData);
        server->Send("+OK 100 octets\r\n");
        QTRY_COMPARE(view->pictures.count(TrayPicture::ServerData), blocks + 1);
        QCOMPARE(client->received, RfcGreeting); // held until the tagging is decided
        const QByteArray header = "Return-Path: <x>\r\nSubject: Hello\r\n"
                                  "Content-Type: text/plain; charset=gb2312\r\n\r\nbody\r\n";
        server->Send(header);
        QByteArray tagged = header;
        tagged.replace("Subject: Hello", "Subject: [VudOdirOro]Hello");
        QTRY_COMPARE(client->received, RfcGreeting + "+OK 100 octets\r\n" + tagged);
        // The reply's start is gathered and inspected as one block, and logged once.
        QCOMPARE(view->serverLog.size(), 1 + 6);
        QCOMPARE(view->serverLog[3], QByteArray("Subject: [VudOdirOro]Hello"));
    }

    // A server that stops in the middle of a header must not hold the client's bytes forever.
    void heldReplyStartGoesOutWhenTheServerCloses() {
        settings->blockedCharsets = QStringList{QStringLiteral("GB2312")};
        settings->tagUnlabelled = true;
        ConnectClient();
        ClientSends("RETR 1\r\n", "RETR 1\r\n");
        const QByteArray start = "+OK 900 octets\r\nReturn-Path: <x>\r\nSubject: cut\r\nX-Lon";
        server->Send(start);
        QTRY_COMPARE(view->pictures.count(TrayPicture::ServerData), 2);
        QCOMPARE(client->received, RfcGreeting);
        server->CloseConnection();
        // Inspected as far as it came: no charset line, so Check1 tags it.
        QTRY_COMPARE(client->received, RfcGreeting +
                                           "+OK 900 octets\r\nReturn-Path: <x>\r\nSubject: "
                                           "[VudOdirOro]cut\r\nX-Lon");
    }

    // The lines of a long reply, logged once its burst has passed, reach the log whole and in
    // order, behind the command that asked for them.
    void longReplyIsLoggedWholeAndInOrder() {
        ConnectClient();
        ClientSends("UIDL\r\n", "UIDL\r\n");
        QByteArray reply = "+OK\r\n";
        for (int i = 1; i <= 60000; ++i) {
            reply += QByteArray::number(i) + " uid" + QByteArray::number(i * 7) + "\r\n";
        }
        reply += ".\r\n";
        server->Send(reply);
        server->CloseConnection();
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(client->received, RfcGreeting + reply);
        QCOMPARE(view->serverLog.size(), 1 + 60002);
        QCOMPARE(view->serverLog[1], QByteArray("+OK"));
        QCOMPARE(view->serverLog[30001], QByteArray("30000 uid210000"));
        QCOMPARE(view->serverLog.last(), QByteArray("."));
        QCOMPARE(view->clientLog, QList<QByteArray>{"UIDL"});
    }

    // However the network cuts a long reply, and wherever its lines hold a lone CR or LF, the
    // log shows each of its lines whole, and the client gets the bytes unchanged.
    void uidlCutAtRandomIsLoggedLineByLine() {
        ConnectClient();
        ClientSends("UIDL\r\n", "UIDL\r\n");
        QList<QByteArray> lines{"+OK"};
        for (int i = 1; i <= 100000; ++i) {
            const char* inside = i % 1000 == 7 ? "\r" : (i % 1000 == 9 ? "\n" : "");
            lines.append(QByteArray::number(i) + " uid" + inside + QByteArray::number(i * 7919));
        }
        lines.append(".");
        QByteArray reply;
        for (const QByteArray& line : lines) {
            reply += line + "\r\n";
        }
        // Each piece read before the next is sent; every tenth cut falls between a CR and its LF.
        QRandomGenerator random(18);
        QList<qsizetype> cuts;
        for (int i = 0; i < 300; ++i) {
            const qsizetype at = 1 + random.bounded(reply.size() - 2);
            cuts.append(i % 10 == 0 ? reply.indexOf("\r\n", at) + 1 : at);
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.append(reply.size());
        qsizetype from = 0;
        for (const qsizetype cut : cuts) {
            if (cut <= from) {
                continue;
            }
            server->Send(reply.sliced(from, cut - from));
            from = cut;
            QTRY_COMPARE(client->received.size(), RfcGreeting.size() + from);
        }
        QCOMPARE(client->received, RfcGreeting + reply);
        QTRY_COMPARE(view->serverLog.size(), 1 + lines.size());
        QCOMPARE(view->serverLog.sliced(1), lines);
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
        QCOMPARE(view->clientLog.size(), 5);
        QVERIFY(RelayIdle(*relay));
    }

    void consoleRows() {
        QCOMPARE(relay->ConsoleSend(1, "x"), Relay::ConsoleResult::ClientNotConnected);
        QCOMPARE(relay->ConsoleSend(0, "x"), Relay::ConsoleResult::ServerConnectStarted);
        QTRY_VERIFY(server->Connected());
        QTRY_VERIFY(relay->LatestSession()->Upstream().CanSend());
        QCOMPARE(relay->ConsoleSend(0, "PASS typed"), Relay::ConsoleResult::Sent);
        QTRY_COMPARE(server->received, QByteArray("PASS typed\r\n"));
        QCOMPARE(view->clientLog, QList<QByteArray>()); // console lines are not logged
    }

    // The console's line to the server is awaited behind the client's, whose RETR it leaves
    // as it was.
    void consoleReachesAConnectedClientAndQueuesBehindIt() {
        ConnectClient();
        ClientSends("RETR 1\r\n", "RETR 1\r\n");
        QCOMPARE(relay->ConsoleSend(1, ""), Relay::ConsoleResult::Sent);
        QTRY_COMPARE(client->received, RfcGreeting + "\r\n");
        QCOMPARE(relay->ConsoleSend(0, "NOOP"), Relay::ConsoleResult::Sent);
        QCOMPARE(relay->LatestSession()->ExpectedReplies(),
                 (QList<ReplyKind>{ReplyKind::Retr, ReplyKind::SingleLine}));
    }
};

QTEST_GUILESS_MAIN(tst_Relay)
#include "tst_relay.moc"
