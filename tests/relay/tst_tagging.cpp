#include "relay/Tagging.h"

#include <QLocale>
#include <QTest>

namespace {
const QByteArray Gb2312Mail = "Return-Path: <x>\r\n"
                              "Subject: Hello\r\n"
                              "Content-Type: text/plain; charset=gb2312\r\n"
                              "\r\n"
                              "body\r\n";
const QByteArray Gb2312MailTagged = "Return-Path: <x>\r\n"
                                    "Subject: [VudOdirOro]Hello\r\n"
                                    "Content-Type: text/plain; charset=gb2312\r\n"
                                    "\r\n"
                                    "body\r\n";
const QStringList Gb2312 = {"GB2312"};
const QByteArray BodySubject = "Return-Path: <x>\r\nTo: u\r\n"
                               "Content-Type: text/plain; charset=gb2312\r\n\r\n"
                               "Subject: forwarded\r\n";
const QByteArray GbWordUtf8 = "Return-Path: <x>\r\nSubject: =?GB2312?B?xOO6ww==?=\r\n"
                              "Content-Type: text/plain; charset=utf-8\r\n\r\nb\r\n";
const QByteArray GbQWord =
    "Return-Path: <x>\r\nSubject: Re: =?gb2312?Q?=C4=E3=BA=C3?=\r\n\r\nb\r\n";
constexpr int EncodedWords = 1;
constexpr int CharsetHeader = 2;
} // namespace

class tst_Tagging : public QObject {
    Q_OBJECT

private:
    static void Row(const char* name, const QByteArray& block, const QStringList& list, int check1,
                    const QByteArray& forward, const QByteArray& logged, int options = 0) {
        QTest::newRow(name) << block << list << check1 << options << forward << logged;
    }
    // The rows below end with a complete line, so an inspected block logs all it forwards, the
    // tagged subject included; rows with text behind the last line use Row.
    static void Tagged(const char* name, const QByteArray& block, const QStringList& list,
                       int check1, const QByteArray& forward, int options = 0) {
        Row(name, block, list, check1, forward, forward, options);
    }
    // An inserted subject line is forwarded but not logged.
    static void Inserted(const char* name, const QByteArray& block, const QStringList& list,
                         int check1, const QByteArray& forward, int options = 0) {
        Row(name, block, list, check1, forward, block, options);
    }
    static void Inspected(const char* name, const QByteArray& block, const QStringList& list,
                          int check1, int options = 0) {
        Row(name, block, list, check1, block, block, options);
    }
    static void NotInspected(const char* name, const QByteArray& block, const QStringList& list,
                             int check1) {
        Row(name, block, list, check1, block, QByteArray());
    }

private Q_SLOTS:
    void inspect_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("check1");
        QTest::addColumn<int>("options");
        QTest::addColumn<QByteArray>("forward");
        QTest::addColumn<QByteArray>("logged");

        Tagged("listed charset", Gb2312Mail, Gb2312, 0, Gb2312MailTagged);
        Inspected("unlisted charset", Gb2312Mail, {"ISO-2022-JP"}, 0);
        Tagged("entry inside the whole line", Gb2312Mail, {"TEXT"}, 0, Gb2312MailTagged);
        Tagged("empty entry", Gb2312Mail, {"ISO-2022-JP", ""}, 0, Gb2312MailTagged);
        Tagged("lower-case entry", Gb2312Mail, {"gb2312"}, 0, Gb2312MailTagged);
        Tagged("full-width entry",
               "Return-Path: <x>\r\nSubject: a\r\ncharset=\x82\x61\x82\x68\x82\x66\x82\x54\r\n",
               {QString::fromUtf8("ｂｉｇ５")}, 0,
               "Return-Path: <x>\r\nSubject: "
               "[VudOdirOro]a\r\ncharset=\x82\x61\x82\x68\x82\x66\x82\x54\r\n");
        Inspected("capitals are no charset line",
                  "Return-Path: <x>\r\nSubject: a\r\nX: CHARSET=GB2312\r\n", Gb2312, 0);
        Tagged("capitals and Check1", "Return-Path: <x>\r\nSubject: a\r\nX: CHARSET=GB2312\r\n",
               Gb2312, 1, "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\nX: CHARSET=GB2312\r\n");
        Inspected("later charset line decides",
                  "Return-Path: <x>\r\nX: charset=gb2312\r\nX: Charset=us-ascii\r\nSubject: a\r\n",
                  Gb2312, 0);
        Tagged("later listed charset line",
               "Return-Path: <x>\r\nX: charset=us-ascii\r\nX: charset=gb2312\r\nSubject: a\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nX: charset=us-ascii\r\nX: charset=gb2312\r\nSubject: "
               "[VudOdirOro]a\r\n");
        Tagged("scan ends at first charset line after subject",
               "Return-Path: <x>\r\nSubject: a\r\nX: charset=gb2312\r\nX: charset=us-ascii\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\nX: charset=gb2312\r\nX: "
               "charset=us-ascii\r\n");
        Inspected("unlisted first charset line after subject",
                  "Return-Path: <x>\r\nSubject: a\r\nX: charset=us-ascii\r\nX: charset=gb2312\r\n",
                  Gb2312, 1);
        Tagged(
            "the Subject field, not a later X-Old-Subject",
            "Return-Path: <x>\r\nSubject: a\r\nX-Old-Subject: b\r\ncharset=gb2312\r\n", Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\nX-Old-Subject: b\r\ncharset=gb2312\r\n");
        Tagged("two names in one line",
               "Return-Path: <x>\r\nSubject: Re: Subject: a\r\ncharset=gb2312\r\n", Gb2312, 0,
               "Return-Path: <x>\r\nSubject: [VudOdirOro]Re: Subject: [VudOdirOro]a\r\n"
               "charset=gb2312\r\n");
        Tagged("Check1, no charset line", "Return-Path: <x>\r\nSubject: a\r\n\r\nb\r\n", {"NONE"},
               1, "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n\r\nb\r\n");
        Inspected("grey Check1 is not ticked", "Return-Path: <x>\r\nSubject: a\r\n", {"NONE"}, 2);
        Row("Check1, no subject, To line",
            "Return-Path: <x>\r\nFrom: a\r\nTo: b\r\nDate: c\r\n\r\nd", {"NONE"}, 1,
            "Return-Path: <x>\r\nFrom: a\r\nTo: b\r\nSubject: [VudOdirOro]\r\nDate: c\r\n\r\nd",
            "Return-Path: <x>\r\nFrom: a\r\nTo: b\r\nDate: c\r\n\r\n");
        Inserted("Check1, no subject, no To line", "Return-Path: <x>\r\nFrom: a\r\n", {"NONE"}, 1,
                 "Return-Path: <x>\r\nSubject: [VudOdirOro]\r\nFrom: a\r\n");
        Inserted("Check1, no subject, unlisted charset",
                 "Return-Path: <x>\r\nX: charset=us-ascii\r\n", Gb2312, 1,
                 "Return-Path: <x>\r\nSubject: [VudOdirOro]\r\nX: charset=us-ascii\r\n");
        Inspected("Check1 clear, listed charset, no subject",
                  "Return-Path: <x>\r\nX: charset=gb2312\r\n", Gb2312, 0);
        Inserted("folded To header", "Return-Path: <x>\r\nTo: a,\r\n b\r\nFrom: c\r\n", {"NONE"}, 1,
                 "Return-Path: <x>\r\nTo: a,\r\n b\r\nSubject: [VudOdirOro]\r\nFrom: c\r\n");
        Inserted("Reply-To is no To line", "Return-Path: <x>\r\nReply-To: x\r\n", {"NONE"}, 1,
                 "Return-Path: <x>\r\nSubject: [VudOdirOro]\r\nReply-To: x\r\n");
        Inserted("To field holding reply-to:", "Return-Path: <x>\r\nTo: a, reply-to: b\r\n",
                 {"NONE"}, 1,
                 "Return-Path: <x>\r\nTo: a, reply-to: b\r\nSubject: [VudOdirOro]\r\n");
        Row("no complete line to insert behind", "Return-Path: <x>", {"NONE"}, 1,
            "Return-Path: <x>", QByteArray());
        NotInspected("other first line", "Received: x\r\nSubject: a\r\ncharset=gb2312\r\n", Gb2312,
                     1);
        NotInspected("short block", "Return-Pat", Gb2312, 1);
        NotInspected("empty list", Gb2312Mail, {}, 1);
        Row("trailing piece untouched",
            "Return-Path: <x>\r\nSubject: a\r\nX: y\r\ncharset=gb2312; Subject: b", Gb2312, 0,
            "Return-Path: <x>\r\nSubject: a\r\nX: y\r\ncharset=gb2312; Subject: b",
            "Return-Path: <x>\r\nSubject: a\r\nX: y\r\n");
        Row("trailing piece not scanned", "Return-Path: <x>\r\nSubject: a\r\ncharset=us-ascii",
            {"NONE"}, 1, "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\ncharset=us-ascii",
            "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n");
        Tagged("lower-case subject", "Return-Path: <x>\r\nsubject: a\r\ncharset=gb2312\r\n", Gb2312,
               0, "Return-Path: <x>\r\nsubject: [VudOdirOro]a\r\ncharset=gb2312\r\n");
        Tagged("upper-case name wins",
               "Return-Path: <x>\r\nSubject: a subject: b\r\ncharset=gb2312\r\n", Gb2312, 0,
               "Return-Path: <x>\r\nSubject: [VudOdirOro]a subject: b\r\ncharset=gb2312\r\n");
        Tagged("encoded subject", "Return-Path: <x>\r\nSubject: =?GB2312?B?xOO6ww==?=\r\n",
               {"NONE"}, 1, "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312?B?xOO6ww==?=\r\n");
        Tagged("encoded word further on",
               "Return-Path: <x>\r\nSubject: Re: =?GB2312?B?xOO6ww==?=\r\n", {"NONE"}, 1,
               "Return-Path: <x>\r\nSubject: [VudOdirOro]Re: =?GB2312?B?xOO6ww==?=\r\n");
        Tagged("8-bit bytes pass",
               "Return-Path: <x>\r\nSubject: "
               "\xc4\xe3\xba\xc3\r\ncharset=gb2312\r\n\r\n\x80\xa0\xfd\xff\x81\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nSubject: "
               "[VudOdirOro]\xc4\xe3\xba\xc3\r\ncharset=gb2312\r\n\r\n\x80\xa0\xfd\xff\x81\r\n");

        // The Subject field is the first header field of that name, in any letter case.
        Tagged("the Subject field, not a later X-Spam-Prev-Subject",
               "Return-Path: <x>\r\nSubject: Hi\r\nX-Spam-Prev-Subject: Hi\r\n"
               "Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nSubject: [VudOdirOro]Hi\r\nX-Spam-Prev-Subject: Hi\r\n"
               "Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n");
        Inspected("a Subject line in the body only", BodySubject, Gb2312, 0);
        Inserted("a Subject line in the body only, Check1", BodySubject, Gb2312, 1,
                 "Return-Path: <x>\r\nTo: u\r\nSubject: [VudOdirOro]\r\n"
                 "Content-Type: text/plain; charset=gb2312\r\n\r\nSubject: forwarded\r\n");
        Tagged(
            "folded Subject, tagged on its first line",
            "Return-Path: <x>\r\nSubject: Quarterly\r\n\treport\r\ncharset=gb2312\r\n", Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Quarterly\r\n\treport\r\ncharset=gb2312\r\n");
        Tagged("Subject text on the continuation line",
               "Return-Path: <x>\r\nSubject:\r\n =?GB2312?B?xOO6ww==?=\r\ncharset=gb2312\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nSubject:[VudOdirOro]\r\n "
               "=?GB2312?B?xOO6ww==?=\r\ncharset=gb2312\r\n");
        Tagged("SUBJECT in capitals", "Return-Path: <x>\r\nSUBJECT: a\r\ncharset=gb2312\r\n",
               Gb2312, 0, "Return-Path: <x>\r\nSUBJECT: [VudOdirOro]a\r\ncharset=gb2312\r\n");
        Tagged(
            "charset only in a part header",
            "Return-Path: <x>\r\nSubject: Minutes\r\nContent-Type: multipart/mixed; boundary=b1\r\n"
            "\r\n--b1\r\nContent-Type: text/plain; charset=gb2312\r\n\r\nhello\r\n--b1--\r\n",
            Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Minutes\r\nContent-Type: multipart/mixed; "
            "boundary=b1\r\n\r\n--b1\r\nContent-Type: text/plain; charset=gb2312\r\n\r\nhello\r\n"
            "--b1--\r\n");

        // Encoded words in Subject and From, with the option and without.
        Row("GB2312 B word under charset=utf-8", GbWordUtf8, Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312?B?xOO6ww==?=\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\nb\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312?B?xOO6ww==?=\r\n"
            "Quorlin: tagged for the encoded word =?GB2312?B?xOO6ww==?= in Subject.\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\nb\r\n",
            EncodedWords);
        Inspected("GB2312 B word under charset=utf-8, option off", GbWordUtf8, Gb2312, 0);
        Row("GB2312 Q word, no charset line", GbQWord, Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Re: =?gb2312?Q?=C4=E3=BA=C3?=\r\n\r\nb\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Re: =?gb2312?Q?=C4=E3=BA=C3?=\r\n"
            "Quorlin: tagged for the encoded word =?gb2312?Q?=C4=E3=BA=C3?= in "
            "Subject.\r\n\r\nb\r\n",
            EncodedWords);
        Inspected("GB2312 Q word, no charset line, option off", GbQWord, Gb2312, 0);
        Row("big5 words under charset=UTF-8",
            "Return-Path: <x>\r\nSubject: =?big5?B?p0Gmbg==?= \r\n =?big5?B?p0Gmbg==?=\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n\r\n",
            {"GB2312", "BIG5"}, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?big5?B?p0Gmbg==?= \r\n"
            " =?big5?B?p0Gmbg==?=\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?big5?B?p0Gmbg==?= \r\n"
            " =?big5?B?p0Gmbg==?=\r\nQuorlin: tagged for the encoded word =?big5?B?p0Gmbg==?= in "
            "Subject.\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n",
            EncodedWords);
        Tagged("big5 word, no charset line, Check1 without the option",
               "Return-Path: <x>\r\nSubject: =?big5?B?p0Gmbg==?=\r\n\r\n", {"big5"}, 1,
               "Return-Path: <x>\r\nSubject: [VudOdirOro] =?big5?B?p0Gmbg==?=\r\n\r\n");
        Row("language behind the charset",
            "Return-Path: <x>\r\nSubject: =?GB2312*zh-CN?B?xOO6ww==?=\r\n\r\n", Gb2312, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312*zh-CN?B?xOO6ww==?=\r\n\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312*zh-CN?B?xOO6ww==?=\r\n"
            "Quorlin: tagged for the encoded word =?GB2312*zh-CN?B?xOO6ww==?= in Subject.\r\n\r\n",
            EncodedWords);
        Row("encoded From on a continuation line",
            "Return-Path: <x>\r\nFrom:\r\n =?big5?B?pP2kcKn6?= <wang@example.tw>\r\n"
            "Subject: Hello\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n",
            {"big5"}, 0,
            "Return-Path: <x>\r\nFrom:\r\n =?big5?B?pP2kcKn6?= <wang@example.tw>\r\n"
            "Subject: [VudOdirOro]Hello\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n",
            "Return-Path: <x>\r\nFrom:\r\n =?big5?B?pP2kcKn6?= <wang@example.tw>\r\n"
            "Subject: [VudOdirOro]Hello\r\nQuorlin: tagged for the encoded word "
            "=?big5?B?pP2kcKn6?= in From.\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n",
            EncodedWords);
        Inspected("an unlisted encoded word declares a charset for Check1",
                  "Return-Path: <x>\r\nSubject: =?UTF-8?B?5L2g5aW9?=\r\n\r\n", Gb2312, 1,
                  EncodedWords);
        Tagged(
            "no encoded words, Check1",
            "Return-Path: <x>\r\nSubject: =?GB2312?X?xOO6ww==?= =?GB2312?B?\?= =?GB2312?B?x x?=\r\n"
            "\r\n",
            Gb2312, 1,
            "Return-Path: <x>\r\nSubject: [VudOdirOro] =?GB2312?X?xOO6ww==?= =?GB2312?B?\?= "
            "=?GB2312?B?x x?=\r\n\r\n",
            EncodedWords);

        // With the option, every charset line read counts, not only the one that decides.
        Tagged("an earlier listed charset line, with the option",
               "Return-Path: <x>\r\nX: charset=gb2312\r\nX: Charset=us-ascii\r\nSubject: a\r\n"
               "\r\n",
               Gb2312, 0,
               "Return-Path: <x>\r\nX: charset=gb2312\r\nX: Charset=us-ascii\r\nSubject: "
               "[VudOdirOro]a\r\n\r\n",
               EncodedWords);
        Row("a listed charset line behind an unlisted one, with the option",
            "Return-Path: <x>\r\nSubject: a\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "X-Original-Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n",
            {"BIG5", "", "GB2312"}, 0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\nX-Quorlin-Charset: GB2312\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "X-Original-Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "X-Original-Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n",
            EncodedWords | CharsetHeader);
        Inspected("a listed charset line behind an unlisted one, option off",
                  "Return-Path: <x>\r\nSubject: a\r\nContent-Type: text/plain; charset=utf-8\r\n"
                  "X-Original-Content-Type: text/plain; charset=gb2312\r\n\r\nb\r\n",
                  Gb2312, 0);

        // The optional header names the entry that matched.
        Row("charset header behind a folded Subject",
            "Return-Path: <x>\r\nSubject: Quarterly\r\n report\r\ncharset=gb2312\r\n\r\n", Gb2312,
            0,
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Quarterly\r\n report\r\n"
            "X-Quorlin-Charset: GB2312\r\ncharset=gb2312\r\n\r\n",
            "Return-Path: <x>\r\nSubject: [VudOdirOro]Quarterly\r\n "
            "report\r\ncharset=gb2312\r\n\r\n",
            CharsetHeader);
        Inserted("charset header behind an inserted Subject",
                 "Return-Path: <x>\r\nTo: a,\r\n b\r\ncharset=gb2312\r\n\r\n", {"BIG5", "gb"}, 1,
                 "Return-Path: <x>\r\nTo: a,\r\n b\r\nSubject: [VudOdirOro]\r\n"
                 "X-Quorlin-Charset: gb\r\ncharset=gb2312\r\n\r\n",
                 CharsetHeader);
        Tagged("no charset header for mail Check1 caught", "Return-Path: <x>\r\nSubject: a\r\n\r\n",
               Gb2312, 1, "Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n\r\n",
               CharsetHeader | EncodedWords);

        // Servers that write the status line and the message at once.
        QTest::newRow("status line and header")
            << "+OK 99 octets\r\n" + Gb2312Mail << Gb2312 << 0 << 0
            << "+OK 99 octets\r\n" + Gb2312MailTagged
            << QByteArray("+OK 99 octets\r\n"
                          "Return-Path: <x>\r\n"
                          "Subject: [VudOdirOro]Hello\r\n"
                          "Content-Type: text/plain; charset=gb2312\r\n"
                          "\r\n"
                          "body\r\n");
        QTest::newRow("status line, insert behind Return-Path")
            << QByteArray("+OK Subject: a\r\nReturn-Path: <x>\r\n") << QStringList{"NONE"} << 1 << 0
            << QByteArray("+OK Subject: a\r\nReturn-Path: <x>\r\nSubject: [VudOdirOro]\r\n")
            << QByteArray("+OK Subject: a\r\nReturn-Path: <x>\r\n");
        Inspected("status line, unlisted", "+OK 99 octets\r\n" + Gb2312Mail, {"BIG5"}, 0);
        NotInspected("status line alone", "+OK 99 octets\r\n", Gb2312, 1);
        NotInspected("status line, other header", "+OK 9 octets\r\nReceived: x\r\nSubject: a\r\n",
                     Gb2312, 1);
        NotInspected("status line, empty list", "+OK 99 octets\r\n" + Gb2312Mail, {}, 1);
    }

    void inspect() {
        QFETCH(QByteArray, block);
        QFETCH(QStringList, list);
        QFETCH(int, check1);
        QFETCH(int, options);
        QFETCH(QByteArray, forward);
        QFETCH(QByteArray, logged);

        const TaggingResult result = InspectBlock(
            block,
            // As the window's box gives it: only the tick (1) counts, not the grey (2).
            {list, check1 == 1, (options & EncodedWords) != 0, (options & CharsetHeader) != 0});
        QCOMPARE(result.forward, forward);
        QCOMPARE(result.logLines, logged);
    }

    // A header cut at the gathering's bound could still hold its Subject further on.
    void atTheGatherBound_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("end");
        QTest::addColumn<QByteArray>("forward");
        QTest::addColumn<QByteArray>("logged");
        const QByteArray noSubjectYet =
            "+OK 9000 octets\r\nReturn-Path: <x>\r\nReceived: a\r\nReceived: b\r\nX-Lo";
        QTest::newRow("no Subject yet")
            << noSubjectYet << int(BlockEnd::AtGatherBound) << noSubjectYet
            << QByteArray("+OK 9000 octets\r\nReturn-Path: <x>\r\n"
                          "Received: a\r\nReceived: b\r\nQuorlin: the "
                          "header did not end within the 65 bytes "
                          "gathered; the message is relayed untagged.\r\n");
        QTest::newRow("no Subject, the reply's end")
            << noSubjectYet << int(BlockEnd::Complete)
            << QByteArray("+OK 9000 octets\r\nReturn-Path: <x>\r\nSubject: [VudOdirOro]\r\n"
                          "Received: a\r\nReceived: b\r\nX-Lo")
            << noSubjectYet.chopped(4);
        const QByteArray noCharsetYet = "Return-Path: <x>\r\nSubject: a\r\nReceived: b\r\nX";
        QTest::newRow("Subject, no charset line yet")
            << noCharsetYet << int(BlockEnd::AtGatherBound) << noCharsetYet
            << QByteArray(
                   "Return-Path: <x>\r\nSubject: a\r\nReceived: b\r\nQuorlin: the header did "
                   "not end within the 44 bytes gathered; the message is relayed "
                   "untagged.\r\n");
        QTest::newRow("decided before the bound")
            << QByteArray("Return-Path: <x>\r\nSubject: a\r\ncharset=gb2312\r\nReceived: b\r\nX")
            << int(BlockEnd::AtGatherBound)
            << QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\ncharset=gb2312\r\n"
                          "Received: b\r\nX")
            << QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\ncharset=gb2312\r\n"
                          "Received: b\r\n");
        QTest::newRow("header ended before the bound")
            << QByteArray("Return-Path: <x>\r\nSubject: a\r\n\r\nbody")
            << int(BlockEnd::AtGatherBound)
            << QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n\r\nbody")
            << QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\n\r\n");
    }

    void atTheGatherBound() {
        QFETCH(QByteArray, block);
        QFETCH(int, end);
        QFETCH(QByteArray, forward);
        QFETCH(QByteArray, logged);

        const TaggingResult result = InspectBlock(block, {Gb2312, true}, BlockEnd(end));
        QCOMPARE(result.forward, forward);
        QCOMPARE(result.logLines, logged);
    }

    void fiveLogEntries() {
        const TaggingResult result = InspectBlock(Gb2312Mail, {Gb2312});
        QCOMPARE(result.logLines.count("\r\n"), 5);
    }

    // A locale with its own idea of upper case ("i" to dotted capital I) must not matter.
    void entryCaseIgnoresLocale() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
        const TaggingResult result = InspectBlock(
            "Return-Path: <x>\r\nSubject: a\r\ncharset=ISO-2022-JP\r\n", {{"iso-2022-jp"}});
        QLocale::setDefault(before);
        QCOMPARE(
            result.forward,
            QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\ncharset=ISO-2022-JP\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Tagging)
#include "tst_tagging.moc"
