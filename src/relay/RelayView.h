#pragma once

#include "relay/TrayPicture.h"

#include <QByteArrayView>
#include <QString>

// What the relay shows the user (in the window, or whatever stands in for it): the server log
// and the client log, the window's visibility and the tray picture. The relay knows nothing
// about widgets and reads no setting here; the window, the headless runner and the tests
// implement this.
class RelayView {
public:
    virtual ~RelayView() = default;

    // The server log (lines from the server) and the client log (lines from the client): one
    // entry per line. One call carries all complete lines of one block as wire bytes, each line
    // still ending with its CR LF (ForEachLine in platform/Lines.h walks them), so a reply of a
    // hundred thousand lines costs one call and no per-line objects on the way.
    virtual void AddServerLines(QByteArrayView lines) = 0;
    virtual void AddClientLines(QByteArrayView lines) = 0;
    virtual void ClearServerLog() = 0;
    virtual void ClearClientLog() = 0;

    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;

    virtual void ShowTrayPicture(TrayPicture picture) = 0;

    // The client whose conversation the manual console talks to, by the number its log lines
    // carry; 0 while at most one conversation goes on and the number is not shown.
    virtual void ConsoleClient(int number) { (void)number; }
    // The account whose server that conversation talks to, by its login name; empty for the
    // default server.
    virtual void ConsoleServer(const QString& account) { (void)account; }
};
