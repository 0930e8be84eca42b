// Cutting blocks at CR LF and joining them back, as the tagging and the logs do.
#include "platform/Lines.h"

#include <QTest>

using Pieces = QList<QByteArray>;

class tst_Lines : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cutAndJoined_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<Pieces>("pieces");
        QTest::addColumn<QByteArray>("completeLines");
        QTest::addColumn<Pieces>("visitedLines");

        QTest::newRow("empty") << QByteArray() << Pieces{""} << QByteArray() << Pieces{};
        QTest::newRow("no line end")
            << QByteArray("abc") << Pieces{"abc"} << QByteArray() << Pieces{};
        QTest::newRow("one line") << QByteArray("abc\r\n") << Pieces{"abc", ""}
                                  << QByteArray("abc\r\n") << Pieces{"abc"};
        QTest::newRow("text behind the last line")
            << QByteArray("a\r\nb\r\nc") << Pieces{"a", "b", "c"} << QByteArray("a\r\nb\r\n")
            << Pieces{"a", "b"};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\n") << Pieces{"", "", ""}
                                     << QByteArray("\r\n\r\n") << Pieces{"", ""};
        QTest::newRow("lone CR and LF do not cut")
            << QByteArray("a\rb\nc\r\n\rd") << Pieces{"a\rb\nc", "\rd"} << QByteArray("a\rb\nc\r\n")
            << Pieces{"a\rb\nc"};
        QTest::newRow("CR before CR LF") << QByteArray("a\r\r\nb") << Pieces{"a\r", "b"}
                                         << QByteArray("a\r\r\n") << Pieces{"a\r"};
        QTest::newRow("CR at the very end")
            << QByteArray("a\r\nb\r") << Pieces{"a", "b\r"} << QByteArray("a\r\n") << Pieces{"a"};
        QTest::newRow("8-bit bytes") << QByteArray("\x82\xa0\r\n\xff") << Pieces{"\x82\xa0", "\xff"}
                                     << QByteArray("\x82\xa0\r\n") << Pieces{"\x82\xa0"};
    }

    void cutAndJoined() {
        QFETCH(QByteArray, block);
        QFETCH(Pieces, pieces);
        QFETCH(QByteArray, completeLines);
        QFETCH(Pieces, visitedLines);

        QCOMPARE(SplitPieces(block), pieces);
        QCOMPARE(JoinPieces(pieces), block);
        QCOMPARE(CompleteLinesText(block).toByteArray(), completeLines);
        Pieces visited;
        ForEachLine(block, [&visited](QByteArrayView line) { visited.append(line.toByteArray()); });
        QCOMPARE(visited, visitedLines);
    }

    void linesJoinedForTheLog() {
        QCOMPARE(JoinLines({}), QByteArray());
        QCOMPARE(JoinLines({"+OK", "", "a b"}), QByteArray("+OK\r\n\r\na b\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Lines)
#include "tst_lines.moc"
