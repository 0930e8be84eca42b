#include "gui/Placement.h"

#include <QTest>

// The window's outer corner for a work area and a window size: right and bottom edges on the
// work area's, the top-left corner never outside it.
class tst_Placement : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bottomRight_data() {
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("1024x768") << QRect(0, 0, 1024, 768) << QSize(320, 406) << QPoint(704, 362);
        // A panel of 30 pixels at the bottom: the window sits on top of it, not under it.
        QTest::newRow("panel below")
            << QRect(0, 0, 1024, 738) << QSize(320, 406) << QPoint(704, 332);
        QTest::newRow("panel at the right")
            << QRect(0, 0, 990, 768) << QSize(100, 50) << QPoint(890, 718);
        QTest::newRow("3840x2160")
            << QRect(0, 0, 3840, 2160) << QSize(320, 406) << QPoint(3520, 1754);
        QTest::newRow("huge") << QRect(0, 0, 100000, 80000) << QSize(320, 406)
                              << QPoint(99680, 79594);
        // Taller than the work area: the title bar stays on it.
        QTest::newRow("too tall") << QRect(0, 24, 1024, 300) << QSize(320, 406) << QPoint(704, 24);
        // The primary screen need not start at the desktop's origin.
        QTest::newRow("offset screen")
            << QRect(-1280, 200, 1024, 768) << QSize(320, 406) << QPoint(-1280 + 704, 200 + 362);
    }

    void bottomRight() {
        QFETCH(QRect, workArea);
        QFETCH(QSize, outer);
        QFETCH(QPoint, topLeft);
        QCOMPARE(BottomRightPlacement(workArea, outer), topLeft);
    }
};

QTEST_APPLESS_MAIN(tst_Placement)
#include "tst_placement.moc"
