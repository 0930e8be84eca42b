#pragma once

#include "relay/RelayView.h"

#include <QByteArray>
#include <functional>

// The window as one client's conversation sees it. While more than one client is served, each
// logged line starts with the client's number in brackets, and clearing the logs for a new
// client is left out so that the others' lines stay; with a single client everything passes
// through as it is.
class SessionView : public RelayView {
public:
    SessionView(RelayView& window, std::function<int()> clientsServed, int number);

    void AddServerLines(QByteArrayView lines) override;
    void AddClientLines(QByteArrayView lines) override;
    void ClearServerLog() override;
    void ClearClientLog() override;
    void ShowWindow() override { window.ShowWindow(); }
    void HideWindow() override;
    void ShowTrayPicture(TrayPicture picture) override { window.ShowTrayPicture(picture); }

    // "[n] " before each line of a block, as the logs show it while several clients are served.
    static QByteArray Numbered(QByteArrayView lines, int number);

private:
    bool Shared() const { return clientsServed() > 1; }

    RelayView& window;
    std::function<int()> clientsServed;
    int number;
};
