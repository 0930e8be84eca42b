#include "gui/models/LogListModel.h"

#include <QSignalSpy>
#include <QTest>

class tst_LogListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Lines stay wire bytes and are shown in code page 932.
    void showsCodePage932() {
        LogListModel model;
        model.AddLines("+OK\r\nSubject: \x83\x65\x83\x58\x83\x67\r\n");
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral("Subject: テスト"));
        QCOMPARE(model.Line(1), QByteArray("Subject: \x83\x65\x83\x58\x83\x67"));
    }

    // A server's escape sequences are drawn as marks; the stored bytes stay as they came.
    void controlBytesAreShownAsMarks() {
        LogListModel model;
        model.AddLines("+OK \x1b[2J\x1b]0;owned\x07\r\x7f\tend\r\n");
        QCOMPARE(model.data(model.index(0)).toString(),
                 QStringLiteral("+OK \u241b[2J\u241b]0;owned\u2407\u240d\u2421\tend"));
        QCOMPARE(model.Line(0), QByteArray("+OK \x1b[2J\x1b]0;owned\x07\r\x7f\tend"));
    }

    // One block, one insertion, however many lines; the oldest lines make room.
    void oneInsertionPerBlockAndACap() {
        LogListModel model(5);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        model.AddLines("1\r\n2\r\n3\r\n");
        model.AddLines("4\r\n5\r\n6\r\n7\r\n");
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(removed.size(), 1);
        QList<QByteArray> rows;
        for (int i = 0; i < model.rowCount(); ++i) {
            rows.append(model.Line(i));
        }
        QCOMPARE(rows, QList<QByteArray>({"3", "4", "5", "6", "7"}));

        // A block larger than the whole capacity keeps its own last lines only.
        model.AddLines("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\n");
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.Line(0), QByteArray("c"));
        QCOMPARE(model.Line(4), QByteArray("g"));

        model.AddLines("no line end");
        QCOMPARE(inserted.size(), 3);
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
    }

    // A long line keeps only its start, cut between two characters, and shows its length.
    void longLinesAreShortened_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        QTest::newRow("short enough") << QByteArray(1024, 'a') << QString(1024, u'a');
        QTest::newRow("LIST reply line")
            << QByteArray(61440, '1') << QString(1024, u'1') + QStringLiteral("… (61440 bytes)");
        // "ソ" is 0x83 0x5C: its second byte looks like a backslash.
        QTest::newRow("two-byte characters")
            << QByteArray("a") + QByteArray("\x83\x5c").repeated(2000)
            << QStringLiteral("a") + QStringLiteral("ソ").repeated(511) +
                   QStringLiteral("… (4001 bytes)");
    }

    void longLinesAreShortened() {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        LogListModel model;
        model.AddLines(line + "\r\n+OK\r\n");
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.data(model.index(0)).toString(), shown);
        QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral("+OK"));
    }

    // Lines of a kilobyte and more: the byte capacity decides before the line capacity does.
    void capacityInBytes() {
        const auto lines = [](char letter, int count, qsizetype size) {
            QByteArray block;
            for (int i = 0; i < count; ++i) {
                block += QByteArray(size - 1, letter) + char('0' + i) + "\r\n";
            }
            return block;
        };
        LogListModel model(1000, 4096);
        model.AddLines(lines('a', 10, 1000));
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.Line(0), QByteArray(999, 'a') + '6');
        QCOMPARE(model.Line(3), QByteArray(999, 'a') + '9');

        // Shortened lines count with what they keep: 1000 + 3 * 1024 bytes fit.
        model.AddLines(lines('b', 3, 61440));
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.Line(0), QByteArray(999, 'a') + '9');
        QCOMPARE(model.Line(3), QByteArray(1024, 'b'));

        // The list of the window: 16 MiB at most, here in lines of 1000 bytes.
        LogListModel window;
        for (int block = 0; block < 100; ++block) {
            window.AddLines(lines('c', 200, 1000));
        }
        QCOMPARE(window.rowCount(), 16777);
    }
};

QTEST_APPLESS_MAIN(tst_LogListModel)
#include "tst_log_list_model.moc"
