#include "gui/Placement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QPoint BottomRightPlacement(const QRect& workArea, const QSize& outerSize) {
    // In 64 bits: the sum of a far-off screen origin and its size must not wrap.
    const qint64 left = qint64{workArea.x()} + workArea.width() - outerSize.width();
    const qint64 top = qint64{workArea.y()} + workArea.height() - outerSize.height();
    return QPoint(static_cast<int>(std::max<qint64>(left, workArea.x())),
                  static_cast<int>(std::max<qint64>(top, workArea.y())));
}

QRect PrimaryWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}
