// The conversation core without sockets: a retrieved message and the greeting give the same
// result however the network cuts them, and pipelined replies each get their own treatment.
#include "relay/Conversation.h"
#include "relay/GreetingLine.h"
#include "relay/Tagging.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTest>

namespace {

const QByteArray Greeting = "+OK Dovecot ready. <31.7.1678780013.abc+/=@mail.example>\r\n";
const QByteArray Behind = "+OK 2 1900\r\n"; // the reply to a command pipelined behind RETR

QByteArray ReceivedChain(int count) {
    QByteArray chain;
    for (int i = 0; i < count; ++i) {
        chain += "Received: from relay" + QByteArray::number(i) +
                 ".example.net (relay.example.net [192.0.2." + QByteArray::number(i % 250) +
                 "])\r\n\tby mx.example.org (Postfix) with ESMTPS id 4Pb" +
                 QByteArray::number(1000 + i) +
                 "\r\n\tfor <quorlin@example.org>; Tue, 14 Mar "
                 "2023 09:26:53 +0900 (JST)\r\n";
    }
    return chain;
}

// A RETR reply as a server sends it: status line, message, terminating line.
QByteArray Reply(const QByteArray& message) {
    return "+OK " + QByteArray::number(message.size()) + " octets\r\n" + message + ".\r\n";
}

QByteArray Mail(const QByteArray& header, const QByteArray& body) {
    return "Return-Path: <sender@example.org>\r\n" + header + "\r\n" + body;
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // what follows the last line end is no line
    for (QByteArray& line : lines) {
        line.chop(1); // the CR
    }
    return lines;
}

// Everything the client and List1 got, the greeting left out.
struct Seen {
    QByteArray toClient;
    QByteArray list1;
    QByteArray toServer;
};

void Collect(Seen& seen, const RelayOutput& out) {
    seen.toClient += out.toClient;
    seen.list1 += out.serverLog;
    seen.toServer += out.toServer;
}

constexpr int EncodedWords = 1;
constexpr int CharsetHeader = 2;

TaggingRules Rules(const QStringList& list, int check1, int options) {
    // As the window's box gives it: only the tick (1) counts.
    return {list, check1 == 1, (options & EncodedWords) != 0, (options & CharsetHeader) != 0};
}

// A conversation greeted and logged in, with `commands` sent; then the server's pieces.
Seen Run(const QList<QByteArray>& pieces, const TaggingRules& tagging, const QByteArray& commands,
         qsizetype gatherLimit) {
    Conversation conversation(gatherLimit);
    conversation.Reset();
    const TaggingRulesSource rules = [&] { return tagging; };
    conversation.Greeted(Greeting);
    Seen seen;
    Collect(seen, conversation.FromClient(commands, true));
    for (const QByteArray& piece : pieces) {
        Collect(seen, conversation.FromServer(piece, rules));
    }
    return seen;
}

QList<QByteArray> CutAt(const QByteArray& bytes, QList<qsizetype> cuts) {
    std::sort(cuts.begin(), cuts.end());
    QList<QByteArray> pieces;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        pieces.append(bytes.sliced(from, cut - from));
        from = cut;
    }
    pieces.append(bytes.sliced(from));
    return pieces;
}

} // namespace

Q_DECLARE_METATYPE(ClientChannel)

class tst_Conversation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void retrResultDoesNotDependOnTheCuts_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("check1");
        QTest::addColumn<int>("options");
        QTest::addColumn<qsizetype>("limit");
        // A line the gathering must have reached before deciding; empty where it takes all.
        QTest::addColumn<QByteArray>("deciding");
        const QStringList blocked{"GB2312", "big5"};
        const qsizetype limit = ReplyStream::GatherLimit;
        const QByteArray body = "Line one.\r\n..A stuffed dot.\r\nLast line.\r\n";
        const QByteArray gbHeader = "Subject: Quarterly report\r\n"
                                    "Content-Type: text/plain; charset=gb2312\r\n";
        const QByteArray gbCharset = "Content-Type: text/plain; charset=gb2312";
        const QByteArray utf8Charset = "Content-Type: text/plain; charset=utf-8";

        QTest::newRow("long Received chain before the subject")
            << Reply(Mail(ReceivedChain(30) + gbHeader, body)) << blocked << 0 << 0 << limit
            << gbCharset;
        QTest::newRow("charset in a MIME part of the body")
            << Reply(Mail("Subject: Minutes\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;"
                          " boundary=\"b1\"\r\n",
                          "--b1\r\nContent-Type: text/plain; charset=big5\r\n\r\nhello\r\n--b1--"
                          "\r\n"))
            << blocked << 0 << EncodedWords << limit
            << QByteArray("Content-Type: text/plain; charset=big5");
        QTest::newRow("no charset, Check1 ticked")
            << Reply(Mail(ReceivedChain(3) + "Subject: Plain\r\nTo: u@example.org\r\n", body))
            << blocked << 1 << 0 << limit << QByteArray(".");
        QTest::newRow("no subject, Check1 ticked")
            << Reply(Mail("From: a@example.org\r\nTo: u@example.org\r\n"
                          "Content-Type: text/plain; charset=big5\r\n",
                          body))
            << blocked << 1 << CharsetHeader << limit << QByteArray();
        QTest::newRow("lower-case subject")
            << Reply(Mail("subject: quiet\r\nContent-Type: text/plain; charset=GB2312\r\n", body))
            << blocked << 0 << 0 << limit << QByteArray("Content-Type: text/plain; charset=GB2312");
        QTest::newRow("encoded subject")
            << Reply(Mail("Content-Type: text/plain; charset=\"GB2312\"\r\n"
                          "Subject: =?GB2312?B?u+HS6c2o1qo=?=\r\n",
                          body))
            << blocked << 0 << 0 << limit
            << QByteArray("Subject: [VudOdirOro] =?GB2312?B?u+HS6c2o1qo=?=");
        QTest::newRow("unlisted charset")
            << Reply(Mail(ReceivedChain(2) + "Subject: Hi\r\nContent-Type: text/plain; "
                                             "charset=iso-2022-jp\r\n",
                          body))
            << blocked << 1 << 0 << limit
            << QByteArray("Content-Type: text/plain; charset=iso-2022-jp");
        QTest::newRow("header not starting with Return-Path")
            << Reply("Received: x\r\n" + gbHeader + "\r\n" + body) << blocked << 1 << 0 << limit
            << QByteArray();
        QTest::newRow("shorter than 100 bytes")
            << Reply("Return-Path: <a@b>\r\nSubject: x\r\n\r\nhi\r\n") << blocked << 1 << 0 << limit
            << QByteArray(".");
        QTest::newRow("error reply")
            << QByteArray("-ERR no such message\r\n") << blocked << 1 << 0 << limit << QByteArray();
        QTest::newRow("real Subject before X-Spam-Prev-Subject")
            << Reply(Mail("Subject: Hi\r\nX-Spam-Prev-Subject: Hi\r\n" + gbCharset + "\r\n", body))
            << blocked << 0 << 0 << limit << gbCharset;
        QTest::newRow("Subject line in the body only")
            << Reply(Mail("To: u@example.org\r\n" + gbCharset + "\r\n",
                          "Subject: forwarded\r\n" + body))
            << blocked << 1 << 0 << limit << QByteArray();
        QTest::newRow("folded To, no subject")
            << Reply(Mail("To: a@example.org,\r\n\tb@example.org\r\nDate: today\r\n", body))
            << blocked << 1 << 0 << limit << QByteArray();
        QTest::newRow("folded Subject and the charset header")
            << Reply(Mail(gbCharset + "\r\nSubject: Quarterly\r\n report\r\nDate: today\r\n", body))
            << blocked << 0 << CharsetHeader << limit << QByteArray("Date: today");
        QTest::newRow("encoded subject under charset=utf-8")
            << Reply(Mail("Subject: =?GB2312?B?xOO6ww==?=\r\n" + utf8Charset + "\r\n", body))
            << blocked << 0 << (EncodedWords | CharsetHeader) << limit << QByteArray();
        QTest::newRow("encoded From, Q encoding")
            << Reply(Mail("Subject: Hello\r\n" + utf8Charset +
                              "\r\nFrom: =?big5?Q?=A4=FD?= <w@x>\r\n",
                          body))
            << blocked << 1 << EncodedWords << limit << QByteArray("From: =?big5?Q?=A4=FD?= <w@x>");
        QTest::newRow("every charset line of the header, with the option")
            << Reply(Mail("Subject: Hi\r\n" + utf8Charset +
                              "\r\nX-Original-Content-Type: text/plain; charset=big5\r\n",
                          body))
            << blocked << 0 << EncodedWords << limit << QByteArray();
        // The same rules with a small limit, so that every cut of a header beyond it is tried.
        QTest::newRow("header beyond the limit")
            << Reply(Mail(ReceivedChain(12) + gbHeader, body)) << blocked << 0 << 0
            << qsizetype(1500) << QByteArray();
        QTest::newRow("header beyond the limit, no subject")
            << Reply(Mail(ReceivedChain(12) + "To: u@example.org\r\n", body)) << blocked << 1 << 0
            << qsizetype(1000) << QByteArray();
        QTest::newRow("header beyond the limit, encoded words")
            << Reply(Mail("Subject: =?GB2312?B?xOO6ww==?=\r\n" + ReceivedChain(12), body))
            << blocked << 1 << EncodedWords << qsizetype(1200) << QByteArray();
    }

    void retrResultDoesNotDependOnTheCuts() {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, list);
        QFETCH(int, check1);
        QFETCH(int, options);
        QFETCH(qsizetype, limit);
        QFETCH(QByteArray, deciding);
        const TaggingRules rules = Rules(list, check1, options);

        // The reference: the reply inspected as one block, or as much of it as the limit holds.
        const qsizetype inspected = qMin(limit, reply.size());
        const TaggingResult whole =
            InspectBlock(reply.first(inspected), rules,
                         inspected < reply.size() ? BlockEnd::AtGatherBound : BlockEnd::Complete);
        const QByteArray expected = whole.forward + reply.sliced(inspected);
        const QList<QByteArray> allLines = Lines(whole.logLines);
        const auto check = [&](const QList<QByteArray>& pieces, bool pipelined) {
            const Seen seen = Run(
                pieces, rules, pipelined ? QByteArray("RETR 1\r\nSTAT\r\n") : "RETR 1\r\n", limit);
            const QByteArray want = expected + (pipelined ? Behind : QByteArray());
            if (seen.toClient != want) {
                return false;
            }
            QList<QByteArray> logged = Lines(seen.list1);
            if (pipelined) {
                if (logged.isEmpty() || logged.takeLast() != Behind.chopped(2)) {
                    return false;
                }
            }
            if (logged != allLines.first(logged.size())) {
                return false;
            }
            return deciding.isEmpty() || logged.contains(deciding);
        };
        const auto describe = [](const QList<qsizetype>& cuts) {
            QByteArray text = "cut at";
            for (const qsizetype cut : cuts) {
                text += ' ' + QByteArray::number(cut);
            }
            return text;
        };

        const QByteArray withBehind = reply + Behind;
        for (qsizetype cut = 1; cut < reply.size(); ++cut) {
            QVERIFY2(check(CutAt(reply, {cut}), false), describe({cut}).constData());
            QVERIFY2(check(CutAt(withBehind, {cut}), true), describe({cut}).constData());
        }
        QRandomGenerator random(20230314);
        for (int round = 0; round < 300; ++round) {
            QList<qsizetype> cuts;
            const int count = 2 + random.bounded(30);
            for (int i = 0; i < count; ++i) {
                cuts.append(1 + random.bounded(reply.size() - 1));
            }
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            QVERIFY2(check(CutAt(reply, cuts), false), describe(cuts).constData());
            QVERIFY2(check(CutAt(withBehind, cuts), true), describe(cuts).constData());
        }
    }

    // The password is all of the line behind "PASS ", its spaces included (digests by md5sum).
    void passwordRunsToTheLineEnd_data() {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("apop");
        QTest::newRow("inner space")
            << QByteArray("pass word")
            << QByteArray("APOP alice 5f96bc8f2b86e89b42fb2db3dbbcc917\r\n");
        QTest::newRow("leading space")
            << QByteArray(" lead") << QByteArray("APOP alice dc67590600d0b7b8dec6961ffcc3187b\r\n");
        QTest::newRow("trailing space")
            << QByteArray("trail ")
            << QByteArray("APOP alice e176a31abc6ea30a05e1efe085656a6b\r\n");
    }
    void passwordRunsToTheLineEnd() {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, apop);
        for (const bool insideTls : {false, true}) {
            Conversation conversation;
            conversation.SetLoginInsideTls(insideTls);
            conversation.Reset();
            const TaggingRulesSource rules = [] { return TaggingRules{}; };
            conversation.Greeted(Greeting);
            const RelayOutput out =
                conversation.FromClient("USER alice\r\nPASS " + password + "\r\n", true);
            QCOMPARE(out.toServer, insideTls ? "USER alice\r\nPASS " + password + "\r\n" : apop);
        }
    }

    // A client that ends its lines with a bare CR sends its login as one line.
    void passBehindASeparatorIsMasked_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("bare CR") << QByteArray("USER alice\rPASS secretpw\r\n")
                                 << QByteArray("USER alice\rPASS ******\r\n");
        QTest::newRow("space, lower case")
            << QByteArray("NOOP pass secretpw\n") << QByteArray("NOOP PASS ******\r\n");
        QTest::newRow("inside a word")
            << QByteArray("USER bypass\r\n") << QByteArray("USER bypass\r\n");
    }
    void passBehindASeparatorIsMasked() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, logged);
        Conversation conversation;
        conversation.Reset();
        conversation.Greeted(Greeting);
        QCOMPARE(conversation.FromClient(line, true).clientLog, logged);
    }

    // A bare CR inside a line: nothing of the line goes to the server or into the login, the
    // client is refused, and the log shows no credential.
    void lineWithALoneCrIsRefused_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("logged");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray loneCr = "-ERR Command line holds a CR that ends no line.\r\n";
        QTest::newRow("USER, then PASS") << QByteArray("USER alice\rPASS x\r\n")
                                         << QByteArray("USER alice\rPASS ******\r\n") << loneCr;
        QTest::newRow("NOOP, then PASS")
            << QByteArray("NOOP\rPASS secret\n") << QByteArray("NOOP\rPASS ******\r\n") << loneCr;
        QTest::newRow("AUTH, then its response")
            << QByteArray("AUTH PLAIN\rAGFsaWNlAHg=\r\n") << QByteArray("AUTH PLAIN\r\n") << loneCr;
    }
    void lineWithALoneCrIsRefused() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, logged);
        QFETCH(QByteArray, reply);
        Conversation conversation;
        conversation.Reset();
        conversation.Greeted(Greeting);
        Seen seen;
        const RelayOutput out = conversation.FromClient(line, true);
        Collect(seen, out);
        QCOMPARE(out.clientLog, logged);
        // No name was given, so a PASS now logs nobody in.
        Collect(seen, conversation.FromClient("PASS x\r\n", true));
        QCOMPARE(seen.toServer, QByteArray());
        QCOMPARE(seen.toClient, reply + "-ERR Give USER with your name before PASS.\r\n");
    }

    // The server deletes at QUIT: a QUIT waits, with what follows it, until the replies before it
    // are through; then it goes on, logged in its turn, and its reply is awaited behind theirs.
    void quitWaitsForTheRepliesBeforeIt() {
        Conversation conversation;
        conversation.Reset();
        conversation.Greeted(Greeting);
        const TaggingRulesSource rules = [] { return TaggingRules{}; };
        const RelayOutput sent =
            conversation.FromClient("RETR 1\r\nDELE 1\r\nQUIT\r\nNOOP\r\n", true);
        QCOMPARE(sent.toServer, QByteArray("RETR 1\r\nDELE 1\r\n"));
        QCOMPARE(sent.clientLog, QByteArray("RETR 1\r\nDELE 1\r\n"));
        QVERIFY(conversation.HoldsQuit());
        // More from the client waits behind it.
        QCOMPARE(conversation.FromClient("STAT\r\n", true).toServer, QByteArray());
        QCOMPARE(conversation.FromServer("+OK 4 octets\r\nHi\r\n.\r\n", rules).toClient,
                 QByteArray("+OK 4 octets\r\nHi\r\n.\r\n"));
        QVERIFY(!conversation.QuitMayGo());
        conversation.FromServer("+OK deleted\r\n", rules);
        QVERIFY(conversation.QuitMayGo());
        const RelayOutput released = conversation.ReleaseQuit(true);
        QCOMPARE(released.toServer, QByteArray("QUIT\r\nNOOP\r\nSTAT\r\n"));
        QCOMPARE(released.clientLog, QByteArray("QUIT\r\nNOOP\r\nSTAT\r\n"));
        QVERIFY(!conversation.HoldsQuit());
        QCOMPARE(conversation.ExpectedReplies(), QList<ReplyKind>(3, ReplyKind::SingleLine));
    }

    // A line too long for a command is refused and dropped up to its end, however it was cut;
    // the next command goes on.
    void commandAfterALineTooLong_data() {
        QTest::addColumn<QList<QByteArray>>("arrivals");
        const QByteArray half(5000, 'x');
        QTest::newRow("in one arrival") << QList<QByteArray>{half + half + "\r\nNOOP\r\n"};
        QTest::newRow("too long only with its end")
            << QList<QByteArray>{half, half + "\r\nNOOP\r\n"};
        QTest::newRow("too long before its end")
            << QList<QByteArray>{half + half, "xx\r\nNOOP\r\n"};
        QTest::newRow("its end alone") << QList<QByteArray>{half, half, "\r\n", "NOOP\r\n"};
    }
    void commandAfterALineTooLong() {
        QFETCH(QList<QByteArray>, arrivals);
        Conversation conversation;
        conversation.Reset();
        conversation.Greeted(Greeting);
        Seen seen;
        for (const QByteArray& arrival : arrivals) {
            Collect(seen, conversation.FromClient(arrival, true));
        }
        QCOMPARE(seen.toServer, QByteArray("NOOP\r\n"));
        QCOMPARE(seen.toClient, QByteArray("-ERR Command line too long.\r\n"));
    }

    // What reaches the client of the server's reply to a command, the server closing after it
    // or not.
    void replyTreatment_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QByteArray>("clientGets");
        QTest::newRow("retr in lower case is tagged")
            << QByteArray("retr 1\r\n")
            << QByteArray("+OK 99 octets\r\nReturn-Path: <a@example.org>\r\nSubject: Hello\r\n"
                          "Content-Type: text/plain; charset=gb2312\r\n\r\nbody\r\n.\r\n")
            << false
            << QByteArray("+OK 99 octets\r\nReturn-Path: <a@example.org>\r\nSubject: "
                          "[VudOdirOro]Hello\r\nContent-Type: text/plain; charset=gb2312\r\n\r\n"
                          "body\r\n.\r\n");
        QTest::newRow("CAPA line cut by the close")
            << QByteArray("CAPA\r\n") << QByteArray("+OK\r\nTOP\r\nUID") << true
            << QByteArray("+OK\r\nTOP\r\nUID");
    }
    void replyTreatment() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, closes);
        QFETCH(QByteArray, clientGets);
        Conversation conversation;
        conversation.Reset();
        const TaggingRulesSource rules = [] { return TaggingRules{{"GB2312"}, false}; };
        conversation.Greeted(Greeting);
        Seen seen;
        Collect(seen, conversation.FromClient(command, true));
        Collect(seen, conversation.FromServer(reply, rules));
        if (closes) {
            Collect(seen, conversation.ServerClosed(rules));
        }
        QCOMPARE(seen.toClient, clientGets);
    }

    // A greeting without a line end is held up to its bound, no further: then it is the
    // greeting, and the rest follows it.
    void greetingWithoutLineEndIsBounded() {
        const GreetingLine::Step step = GreetingLine().Feed(QByteArray(9000, 'x'));
        QVERIFY(step.complete);
        Conversation conversation;
        conversation.Reset();
        Seen seen;
        Collect(seen, conversation.Greeted(step.greeting));
        Collect(seen, conversation.FromServer(step.rest, [] { return TaggingRules{}; }));
        QCOMPARE(seen.toClient, QByteArray(9000, 'x'));
        QCOMPARE(conversation.Login().greeting, QByteArray(8192, 'x'));
    }

    void headerBeyondTheBoundIsRelayedUntouched() {
        const QByteArray header = ReceivedChain(3400) +
                                  "Subject: Hello\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n";
        QVERIFY(header.size() > 600 * 1024);
        const QByteArray longReply = Reply(Mail(header, "Hello.\r\n"));
        const QByteArray gbReply = Reply(Mail("Subject: Hi\r\nContent-Type: text/plain; "
                                              "charset=gb2312\r\n",
                                              "Hi.\r\n"));
        const QByteArray both = longReply + gbReply;
        QList<QByteArray> pieces;
        for (qsizetype at = 0; at < both.size(); at += 16 * 1024) {
            pieces.append(both.mid(at, 16 * 1024));
        }

        const Seen seen = Run(pieces, Rules({"GB2312", "big5"}, 1, 0), "RETR 1\r\nRETR 2\r\n",
                              ReplyStream::GatherLimit);
        QCOMPARE(seen.toClient.first(longReply.size()), longReply);
        QCOMPARE(seen.toClient.sliced(longReply.size()),
                 QByteArray("+OK 97 octets\r\nReturn-Path: <sender@example.org>\r\n"
                            "Subject: [VudOdirOro]Hi\r\n"
                            "Content-Type: text/plain; charset=gb2312\r\n\r\nHi.\r\n.\r\n"));
        QVERIFY(seen.list1.contains("\r\nQuorlin: the header did not end within the 262144 bytes "
                                    "gathered; the message is relayed untagged.\r\n"));
    }

    // SASL only where the password crosses nothing that USER and PASS would not: inside TLS, or
    // from this machine; STLS offered where there is a certificate and no TLS yet.
    void clientChannelDecidesSaslAndStls_data() {
        QTest::addColumn<ClientChannel>("channel");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("toClient");
        QTest::addColumn<QByteArray>("toServer");
        const QByteArray auth = "AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n";
        const QByteArray apop =
            "APOP alice " +
            QCryptographicHash::hash("<31.7.1678780013.abc+/=@mail.example>secret",
                                     QCryptographicHash::Md5)
                .toHex() +
            "\r\n";
        const ClientChannel plainRemote{true, true, false, false};
        const ClientChannel tlsRemote{true, true, true, false};
        const ClientChannel plainLocal{true, true, false, true};
        const ClientChannel withoutCertificate{true, false, false, true};
        QTest::newRow("another machine, plain: CAPA")
            << plainRemote << QByteArray("CAPA\r\n") << QByteArray("+OK\r\nUSER\r\nSTLS\r\n.\r\n")
            << QByteArray("CAPA\r\n");
        QTest::newRow("another machine, plain: AUTH")
            << plainRemote << auth
            << QByteArray("-ERR Quorlin takes AUTH from another machine only inside TLS: send "
                          "STLS first.\r\n")
            << QByteArray();
        QTest::newRow("another machine, TLS: CAPA")
            << tlsRemote << QByteArray("CAPA\r\n")
            << QByteArray("+OK\r\nUSER\r\nSASL PLAIN LOGIN\r\n.\r\n") << QByteArray("CAPA\r\n");
        QTest::newRow("another machine, TLS: AUTH") << tlsRemote << auth << QByteArray() << apop;
        QTest::newRow("this machine, plain: CAPA")
            << plainLocal << QByteArray("CAPA\r\n")
            << QByteArray("+OK\r\nUSER\r\nSTLS\r\nSASL PLAIN LOGIN\r\n.\r\n")
            << QByteArray("CAPA\r\n");
        QTest::newRow("this machine, plain: AUTH") << plainLocal << auth << QByteArray() << apop;
        QTest::newRow("no certificate: CAPA")
            << withoutCertificate << QByteArray("CAPA\r\n")
            << QByteArray("+OK\r\nUSER\r\nSASL PLAIN LOGIN\r\n.\r\n") << QByteArray("CAPA\r\n");
        QTest::newRow("no certificate: STLS")
            << withoutCertificate << QByteArray("STLS\r\n")
            << QByteArray("-ERR Quorlin does not pass STLS on: switch STARTTLS off in the mail "
                          "client and log in with the plain password login (USER and PASS).\r\n")
            << QByteArray();
        QTest::newRow("switched off: AUTH")
            << ClientChannel{} << auth
            << QByteArray("-ERR Quorlin does not pass AUTH on: log in with the plain password "
                          "login (USER and PASS), which it turns into APOP.\r\n")
            << QByteArray();
    }
    void clientChannelDecidesSaslAndStls() {
        QFETCH(ClientChannel, channel);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, toClient);
        QFETCH(QByteArray, toServer);
        Conversation conversation;
        conversation.Reset();
        conversation.Greeted(Greeting);
        conversation.SetClientChannel(channel);
        Seen seen;
        Collect(seen, conversation.FromClient(line, true));
        if (seen.toServer == "CAPA\r\n") {
            Collect(seen, conversation.FromServer("+OK\r\nUSER\r\nSTLS\r\nSASL PLAIN\r\n.\r\n",
                                                  [] { return TaggingRules{}; }));
        }
        QCOMPARE(seen.toClient, toClient);
        QCOMPARE(seen.toServer, toServer);
    }

    void greetingGivesTheSameLoginHoweverItIsCut() {
        const QByteArray stamp = "<31.7.1678780013.abc+/=@mail.example>";
        const QByteArray apop =
            "APOP alice " +
            QCryptographicHash::hash(stamp + "secret", QCryptographicHash::Md5).toHex() + "\r\n";
        const QByteArray firstLine = "+OK Dovecot ready. " + stamp + "\r\n";
        const QByteArray greeting = firstLine + "+OK unasked\r\n";
        const auto login = [&](const QList<QByteArray>& pieces) {
            GreetingLine line;
            Conversation conversation;
            conversation.Reset();
            const TaggingRulesSource rules = [] { return TaggingRules{}; };
            Seen seen;
            for (const QByteArray& piece : pieces) {
                GreetingLine::Step step;
                if (seen.toClient.isEmpty()) {
                    step = line.Feed(piece);
                } else {
                    step.rest = piece;
                }
                if (step.complete) {
                    Collect(seen, conversation.Greeted(step.greeting));
                }
                if (!step.rest.isEmpty()) {
                    Collect(seen, conversation.FromServer(step.rest, rules));
                }
                // Nothing of the greeting is relayed before its line is complete.
                if (!seen.toClient.isEmpty() && !seen.toClient.startsWith(firstLine)) {
                    return QByteArray("partial greeting relayed: ") + seen.toClient;
                }
            }
            Collect(seen, conversation.FromClient("USER alice\r\nPASS secret\r\n", true));
            if (seen.toClient != greeting + "+OK Password required.\r\n") {
                return "client got " + seen.toClient;
            }
            return seen.toServer;
        };
        QCOMPARE(login({greeting}), apop);
        for (qsizetype cut = 1; cut < greeting.size(); ++cut) {
            QCOMPARE(login(CutAt(greeting, {cut})), apop);
        }
        QList<QByteArray> bytes;
        for (const char c : greeting) {
            bytes.append(QByteArray(1, c));
        }
        QCOMPARE(login(bytes), apop);
    }
};

QTEST_GUILESS_MAIN(tst_Conversation)
#include "tst_conversation.moc"
