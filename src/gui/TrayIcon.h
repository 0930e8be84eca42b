#pragma once

#include "relay/TrayPicture.h"

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// The one tray icon of the program. Its tip always reads "Ready"; only the picture changes.
// Where the desktop has no system tray the icon is never put on screen, but the record of it
// (picture, added or not) is kept all the same, so the rest of the program does not care.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(bool systemTrayAvailable, QObject* parent = nullptr);

    // Puts the icon up with the window's own icon. From then on a click beeps, a double-click
    // asks for the window (ShowRequested) and the right button opens the menu.
    void Add(QWidget* window, QMenu* menu);
    void ShowPicture(TrayPicture picture);
    void Remove();
    // A passing message by the icon, for what the user should hear of while the window is
    // hidden; nothing where there is no tray. The last one is kept for the record.
    void ShowMessage(const QString& title, const QString& text);
    const QString& LastMessage() const { return lastMessage; }

    bool SystemTrayAvailable() const { return trayAvailable; }
    // Between Add and Remove.
    bool Added() const { return added; }
    // The picture shown last, none (zero) before Add. The window's icon counts as Idle.
    TrayPicture CurrentPicture() const { return picture; }
    QSystemTrayIcon& Icon() { return icon; }

    static const QString Tip;

Q_SIGNALS:
    // The user double-clicked the icon.
    void ShowRequested();

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon icon;
    bool trayAvailable;
    bool added = false;
    TrayPicture picture{};
    QString lastMessage;
};
