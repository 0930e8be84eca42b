#include "shell/Placement.h"

#include <QTest>

// The window's outer corner for a screen and a window size: right edge on the screen's right
// edge, bottom edge 400 twips (26.7, so 27 pixels) above the screen's bottom.
class PlacementTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bottomRight_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("1024x768") << QRect(0, 0, 1024, 768) << QSize(320, 406) << QPoint(704, 335);
        QTest::newRow("other window size")
            << QRect(0, 0, 1024, 768) << QSize(100, 50) << QPoint(924, 691);
        // 3840 * 15 twips do not fit 16 bits; the result must not wrap.
        QTest::newRow("3840x2160")
            << QRect(0, 0, 3840, 2160) << QSize(320, 406) << QPoint(3520, 1727);
        QTest::newRow("huge") << QRect(0, 0, 100000, 80000) << QSize(320, 406)
                              << QPoint(99680, 79567);
        // Taller than the screen: a negative top, applied as it is.
        QTest::newRow("too tall") << QRect(0, 0, 1024, 300) << QSize(320, 406) << QPoint(704, -133);
        // The primary screen need not start at the desktop's origin.
        QTest::newRow("offset screen")
            << QRect(-1280, 200, 1024, 768) << QSize(320, 406) << QPoint(-1280 + 704, 200 + 335);
    }

    void bottomRight() {
        QFETCH(QRect, screen);
        QFETCH(QSize, outer);
        QFETCH(QPoint, topLeft);
        QCOMPARE(BottomRightPlacement(screen, outer), topLeft);
    }
};

QTEST_APPLESS_MAIN(PlacementTest)
#include "tst_Placement.moc"
