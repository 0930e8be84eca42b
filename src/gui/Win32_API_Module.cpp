#include "gui/Win32_API_Module.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

namespace {

QRect PrimaryScreenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

} // namespace

namespace Win32_API_Module {

int GetScreenWidth() {
    return PrimaryScreenGeometry().width();
}

int GetScreenHeight() {
    return PrimaryScreenGeometry().height();
}

QPoint GetScreenOrigin() {
    return PrimaryScreenGeometry().topLeft();
}

QRect GetWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace Win32_API_Module
