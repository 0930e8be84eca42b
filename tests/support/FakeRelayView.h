#pragma once

#include "relay/RelayView.h"

#include <QList>

// The lines of logged text, each ended by CR LF; split here rather than with the relay's own
// helpers, so that the log checks do not lean on the code under test.
inline void AppendLoggedLines(QByteArrayView text, QList<QByteArray>& lines) {
    qsizetype start = 0;
    for (qsizetype end; (end = text.indexOf("\r\n", start)) >= 0; start = end + 2) {
        lines.append(text.sliced(start, end - start).toByteArray());
    }
}

// Records what the relay shows, for tests.
class FakeRelayView : public RelayView {
public:
    QList<QByteArray> serverLog;
    QList<QByteArray> clientLog;
    int serverLogCalls = 0;
    bool visible = false;
    QList<TrayPicture> pictures;

    void AddServerLines(QByteArrayView lines) override {
        AppendLoggedLines(lines, serverLog);
        ++serverLogCalls;
    }
    void AddClientLines(QByteArrayView lines) override { AppendLoggedLines(lines, clientLog); }
    void ClearServerLog() override { serverLog.clear(); }
    void ClearClientLog() override { clientLog.clear(); }
    void ShowWindow() override { visible = true; }
    void HideWindow() override { visible = false; }
    void ShowTrayPicture(TrayPicture picture) override { pictures.append(picture); }
    TrayPicture Picture() const { return pictures.isEmpty() ? TrayPicture{} : pictures.last(); }
};
