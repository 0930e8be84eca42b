#pragma once

#include <QPoint>
#include <QRect>

// The size of the whole primary screen, task bar and panels included, in pixels; 0 when the
// system reports no screen.
namespace Win32_API_Module {

int GetScreenWidth();
int GetScreenHeight();
// Where the primary screen starts on a desktop of several screens.
QPoint GetScreenOrigin();
// The part of the primary screen that panels and task bars leave to windows.
QRect GetWorkArea();

} // namespace Win32_API_Module
