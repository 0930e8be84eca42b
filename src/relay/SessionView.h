#pragma once

#include "relay/RelayView.h"

#include <functional>

// The window as one client's conversation sees it. While more than one client is served, each
// logged line starts with the client's number in brackets, and clearing the logs for a new
// client is left out so that the others' lines stay; with a single client everything passes
// through as it is.
class SessionView : public RelayView {
public:
    SessionView(RelayView& window, std::function<int()> clientsServed, int number);

    QString Text1() const override { return window.Text1(); }
    void List1AddLines(QByteArrayView lines) override;
    void List2AddLines(QByteArrayView lines) override;
    void List1Clear() override;
    void List2Clear() override;
    QStringList List3Items() const override { return window.List3Items(); }
    int Check1Value() const override { return window.Check1Value(); }
    void ShowWindow() override { window.ShowWindow(); }
    void HideWindow() override;
    void TraySetImage(TrayPicture picture) override { window.TraySetImage(picture); }

    // "[n] " before each line of a block, as the logs show it while several clients are served.
    static QByteArray Numbered(QByteArrayView lines, int number);

private:
    bool Shared() const { return clientsServed() > 1; }

    RelayView& window;
    std::function<int()> clientsServed;
    int number;
};
