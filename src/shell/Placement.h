#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// How far the window's bottom edge stays above the bottom of the screen.
inline constexpr int BottomMarginTwips = 400;

// The outer top-left corner that puts a window of the given outer size with its right edge on
// the right edge of the screen and its bottom edge BottomMarginTwips above the screen's bottom.
// Worked in 64-bit twips, so no screen is too large; a window taller than the screen gets a
// negative top, which is kept.
QPoint BottomRightPlacement(const QRect& screen, const QSize& outerSize);
