// Wire lines as the log shows them: the printable ones copied a word at a time, the others
// through code page 932 and the escapes, wherever a line and its end fall among the words.
#include "platform/LogLineText.h"

#include <QTest>

class tst_LogLineText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shown_data() {
        QTest::addColumn<QByteArray>("stamp");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("lengths about a word")
            << QByteArray() << QByteArray("S: ")
            << QByteArray("\r\nA\r\n1234567\r\n12345678\r\n123456789\r\n"
                          "123456789012345\r\n1234567890123456\r\n")
            << QByteArray("S: \nS: A\nS: 1234567\nS: 12345678\nS: 123456789\n"
                          "S: 123456789012345\nS: 1234567890123456\n");
        QTest::newRow("line ends across sixteen bytes")
            << QByteArray() << QByteArray("S: ")
            << QByteArray("123456789012345\r\nb\r\n12345678901\r\nc\r\n")
            << QByteArray("S: 123456789012345\nS: b\nS: 12345678901\nS: c\n");
        QTest::newRow("edges of printable")
            << QByteArray() << QByteArray("C: ") << QByteArray(" ~!\r\n1234567\x1f\r\n\x7f\r\n")
            << QByteArray("C:  ~!\nC: 1234567\\x1f\nC: \\x7f\n");
        QTest::newRow("text behind the last line end")
            << QByteArray() << QByteArray("S: ") << QByteArray("+OK\r\n12345678")
            << QByteArray("S: +OK\n");
        QTest::newRow("CR at the very end")
            << QByteArray() << QByteArray("S: ") << QByteArray("+OK\r\n1234567\r")
            << QByteArray("S: +OK\n");
        QTest::newRow("unended line of other bytes")
            << QByteArray() << QByteArray("S: ") << QByteArray("+OK\r\nab\x01\r")
            << QByteArray("S: +OK\n");
        QTest::newRow("lone CR and LF stay in their line")
            << QByteArray() << QByteArray("S: ") << QByteArray("a\rb\nc\r\r\nd\r\n")
            << QByteArray("S: a\\rb\\nc\\r\nS: d\n");
        QTest::newRow("tab and code page 932")
            << QByteArray() << QByteArray("S: ")
            << QByteArray("\tx\r\n+OK \x93\xfa\x96\x7b\r\n\xc1\r\nplain\r\n")
            << QByteArray("S: \tx\nS: +OK \xe6\x97\xa5\xe6\x9c\xac\nS: \xef\xbe\x81\nS: plain\n");
        QTest::newRow("stamp longer than a word")
            << QByteArray("2026-12-07T21:00:00 ") << QByteArray("C: ")
            << QByteArray("USER a\r\n\r\nLIST\x01\r\n")
            << QByteArray("2026-12-07T21:00:00 C: USER a\n2026-12-07T21:00:00 C: \n"
                          "2026-12-07T21:00:00 C: LIST\\x01\n");
        QTest::newRow("no stamp, no prefix")
            << QByteArray() << QByteArray() << QByteArray("a\r\nbc\r\n") << QByteArray("a\nbc\n");
        // Escapes make these longer than the room a block's size promises.
        QTest::newRow("escaped lines beyond the first room")
            << QByteArray() << QByteArray("S: ")
            << QByteArray("\x01\x01\x01\x01\r\n").repeated(10000) + "after them\r\n"
            << QByteArray("S: \\x01\\x01\\x01\\x01\n").repeated(10000) + "S: after them\n";
    }

    void shown() {
        QFETCH(QByteArray, stamp);
        QFETCH(QByteArray, prefix);
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, expected);

        LogLineText text;
        // A larger block first: nothing of it may show through.
        (void)text.Lines("0000-00-00T00:00:00 ", "X: ", QByteArray(4000, 'z') + "\r\n");
        QCOMPARE(text.Lines(stamp, prefix, block).toByteArray(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_LogLineText)
#include "tst_log_line_text.moc"
