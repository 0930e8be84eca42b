#pragma once

#include "relay/TrayPicture.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the relay needs from the window (or from whatever stands in for it): the controls that
// hold the settings and the logs, the window's visibility and the tray picture. The relay knows
// nothing about widgets; the window, the headless runner and the tests implement this.
class RelayView {
public:
    virtual ~RelayView() = default;

    // Text1: the mail server host, read at every upstream connection.
    virtual QString Text1() const = 0;

    // List1 (lines from the server) and List2 (lines from the client): one entry per line.
    // One call carries all complete lines of one block as wire bytes, each line still ending
    // with its CR LF (ForEachLine in relay/Pieces.h walks them), so a reply of a hundred
    // thousand lines costs one call and no per-line objects on the way.
    virtual void List1AddLines(QByteArrayView lines) = 0;
    virtual void List2AddLines(QByteArrayView lines) = 0;
    virtual void List1Clear() = 0;
    virtual void List2Clear() = 0;

    // List3 (the blocked character sets, in list order) and Check1 (0 clear, 1 ticked, 2 grey).
    virtual QStringList List3Items() const = 0;
    virtual int Check1Value() const = 0;

    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;

    virtual void TraySetImage(TrayPicture picture) = 0;

    // The client whose conversation the manual console talks to, by the number its log lines
    // carry; 0 while at most one conversation goes on and the number is not shown.
    virtual void ConsoleClient(int number) { (void)number; }
};
