#pragma once

#include <QPoint>

// The size of the whole primary screen, task bar and panels included, in pixels; 0 when the
// system reports no screen.
namespace Win32_API_Module {

int GetScreenWidth();
int GetScreenHeight();
// Where the primary screen starts on a desktop of several screens.
QPoint GetScreenOrigin();

} // namespace Win32_API_Module
