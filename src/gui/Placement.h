#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// The outer top-left corner that puts a window of the given outer size with its right and
// bottom edges on those of the work area (the screen less its panels and task bar). A window
// larger than the work area keeps its top-left corner inside it, so its title bar stays in reach.
QPoint BottomRightPlacement(const QRect& workArea, const QSize& outerSize);

// The part of the primary screen that panels and task bars leave to windows; empty when the
// system reports no screen.
QRect PrimaryWorkArea();
