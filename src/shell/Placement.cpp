#include "shell/Placement.h"

#include "shell/Twips.h"

QPoint BottomRightPlacement(const QRect& screen, const QSize& outerSize) {
    const qint64 leftTwips =
        qint64{screen.width()} * TwipsPerPixel - qint64{outerSize.width()} * TwipsPerPixel;
    const qint64 topTwips = qint64{screen.height()} * TwipsPerPixel -
                            qint64{outerSize.height()} * TwipsPerPixel - BottomMarginTwips;
    return QPoint(static_cast<int>(screen.x() + TwipsToPixels(leftTwips)),
                  static_cast<int>(screen.y() + TwipsToPixels(topTwips)));
}
