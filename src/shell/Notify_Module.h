#pragma once

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// The one tray icon of the program. Its tip always reads "Ready"; only the picture changes.
// Where the desktop has no system tray the icon is never put on screen, but the record of it
// (picture, added or not) is kept all the same, so the rest of the program does not care.
class Notify_Module : public QObject {
    Q_OBJECT

public:
    explicit Notify_Module(bool systemTrayAvailable, QObject* parent = nullptr);

    // Puts the icon up with the window's own icon. From then on a click beeps, a double-click
    // shows the window and the right button opens the menu.
    void TrayAdd(QWidget* window, QMenu* menu);
    void TraySetImage(int picture);
    void TrayRemove();

    bool SystemTrayAvailable() const { return trayAvailable; }
    // Between TrayAdd and TrayRemove.
    bool Added() const { return added; }
    // The picture shown last, 0 before TrayAdd. The window's icon counts as picture 1.
    int CurrentPicture() const { return picture; }
    QSystemTrayIcon& Icon() { return icon; }

    static const QString Tip;

private:
    void TrayMouse(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon icon;
    QWidget* window = nullptr;
    bool trayAvailable;
    bool added = false;
    int picture = 0;
};
