#include "gui/Notify_Module.h"

#include "gui/ImageList1.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>

const QString Notify_Module::Tip = QStringLiteral("Ready");

Notify_Module::Notify_Module(bool systemTrayAvailable, QObject* parent)
    : QObject(parent), trayAvailable(systemTrayAvailable) {
    connect(&icon, &QSystemTrayIcon::activated, this, &Notify_Module::TrayMouse);
}

void Notify_Module::TrayAdd(QWidget* trayWindow, QMenu* menu) {
    icon.setIcon(trayWindow->windowIcon());
    icon.setToolTip(Tip);
    icon.setContextMenu(menu);
    picture = TrayPicture::Idle;
    added = true;
    if (trayAvailable) {
        icon.show();
    }
}

void Notify_Module::TraySetImage(TrayPicture shown) {
    picture = shown;
    icon.setIcon(ImageList1::Picture(shown));
}

void Notify_Module::TrayRemove() {
    icon.hide();
    added = false;
}

void Notify_Module::TrayMessage(const QString& title, const QString& text) {
    lastMessage = text;
    if (trayAvailable && added) {
        icon.showMessage(title, text, QSystemTrayIcon::Warning);
    }
}

// The right button needs nothing here: the icon opens its context menu by itself.
void Notify_Module::TrayMouse(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        QApplication::beep();
        break;
    case QSystemTrayIcon::DoubleClick:
        Q_EMIT ShowRequested();
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
}
