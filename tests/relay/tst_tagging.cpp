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
} // namespace

class tst_Tagging : public QObject {
    Q_OBJECT

private:
    static void Row(const char* name, const QByteArray& block, const QStringList& list, int check1,
                    const QByteArray& forward, const QByteArray& logged) {
        QTest::newRow(name) << block << list << check1 << forward << logged;
    }
    // The rows below end with a complete line, so an inspected block logs all it forwards, the
    // tagged subject included; rows with text behind the last line use Row.
    static void Tagged(const char* name, const QByteArray& block, const QStringList& list,
                       int check1, const QByteArray& forward) {
        Row(name, block, list, check1, forward, forward);
    }
    // An inserted subject line is forwarded but not logged.
    static void Inserted(const char* name, const QByteArray& block, const QStringList& list,
                         int check1, const QByteArray& forward) {
        Row(name, block, list, check1, forward, block);
    }
    static void Inspected(const char* name, const QByteArray& block, const QStringList& list,
                          int check1) {
        Row(name, block, list, check1, block, block);
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
            "later subject line is the one tagged",
            "Return-Path: <x>\r\nSubject: a\r\nX-Old-Subject: b\r\ncharset=gb2312\r\n", Gb2312, 0,
            "Return-Path: <x>\r\nSubject: a\r\nX-Old-Subject: [VudOdirOro]b\r\ncharset=gb2312\r\n");
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
                 "Return-Path: <x>\r\nTo: a,\r\nSubject: [VudOdirOro]\r\n b\r\nFrom: c\r\n");
        Inserted("Reply-To is no To line", "Return-Path: <x>\r\nReply-To: x\r\n", {"NONE"}, 1,
                 "Return-Path: <x>\r\nSubject: [VudOdirOro]\r\nReply-To: x\r\n");
        Inserted("both forms are no To line", "Return-Path: <x>\r\nTo: a, reply-to: b\r\n",
                 {"NONE"}, 1,
                 "Return-Path: <x>\r\nSubject: [VudOdirOro]\r\nTo: a, reply-to: b\r\n");
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

        // Servers that write the status line and the message at once.
        QTest::newRow("status line and header")
            << "+OK 99 octets\r\n" + Gb2312Mail << Gb2312 << 0
            << "+OK 99 octets\r\n" + Gb2312MailTagged
            << QByteArray("+OK 99 octets\r\n"
                          "Return-Path: <x>\r\n"
                          "Subject: [VudOdirOro]Hello\r\n"
                          "Content-Type: text/plain; charset=gb2312\r\n"
                          "\r\n"
                          "body\r\n");
        QTest::newRow("status line, insert behind Return-Path")
            << QByteArray("+OK Subject: a\r\nReturn-Path: <x>\r\n") << QStringList{"NONE"} << 1
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
        QFETCH(QByteArray, forward);
        QFETCH(QByteArray, logged);

        const TaggingResult result = InspectBlock(block, list, check1);
        QCOMPARE(result.forward, forward);
        QCOMPARE(result.logLines, logged);
    }

    void fiveLogEntries() {
        const TaggingResult result = InspectBlock(Gb2312Mail, Gb2312, 0);
        QCOMPARE(result.logLines.count("\r\n"), 5);
    }

    // A locale with its own idea of upper case ("i" to dotted capital I) must not matter.
    void entryCaseIgnoresLocale() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
        const TaggingResult result = InspectBlock(
            "Return-Path: <x>\r\nSubject: a\r\ncharset=ISO-2022-JP\r\n", {"iso-2022-jp"}, 0);
        QLocale::setDefault(before);
        QCOMPARE(
            result.forward,
            QByteArray("Return-Path: <x>\r\nSubject: [VudOdirOro]a\r\ncharset=ISO-2022-JP\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Tagging)
#include "tst_tagging.moc"
