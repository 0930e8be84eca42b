#pragma once

#include <QRect>
#include <QtGlobal>

// The window is laid out in twips and converted at a fixed 15 twips per pixel, whatever the
// display's real resolution, so the layout is the same on every screen.
inline constexpr int TwipsPerPixel = 15;

constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                 height / TwipsPerPixel);
}
