#include "gui/TrayIcon.h"

#include "gui/TrayPictureIcons.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>

const QString TrayIcon::Tip = QStringLiteral("Ready");

TrayIcon::TrayIcon(bool systemTrayAvailable, QObject* parent)
    : QObject(parent), trayAvailable(systemTrayAvailable) {
    connect(&icon, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
}

void TrayIcon::Add(QWidget* trayWindow, QMenu* menu) {
    icon.setIcon(trayWindow->windowIcon());
    icon.setToolTip(Tip);
    icon.setContextMenu(menu);
    picture = TrayPicture::Idle;
    added = true;
    if (trayAvailable) {
        icon.show();
    }
}

void TrayIcon::ShowPicture(TrayPicture shown) {
    picture = shown;
    icon.setIcon(TrayPictureIcon(shown));
}

void TrayIcon::Remove() {
    icon.hide();
    added = false;
}

void TrayIcon::ShowMessage(const QString& title, const QString& text) {
    lastMessage = text;
    if (trayAvailable && added) {
        icon.showMessage(title, text, QSystemTrayIcon::Warning);
    }
}

// The right button needs nothing here: the icon opens its context menu by itself.
void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
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
