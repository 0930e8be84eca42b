#include "shell/LogListModel.h"

#include <QSignalSpy>
#include <QTest>

class LogListModelTest : public QObject {
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
};

QTEST_APPLESS_MAIN(LogListModelTest)
#include "tst_LogListModel.moc"
