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

// Records what the relay does to the window, for tests.
class FakeRelayView : public RelayView {
public:
    QString host = QStringLiteral("127.0.0.1");
    QList<QByteArray> list1;
    QList<QByteArray> list2;
    int list1AddCalls = 0;
    QStringList list3;
    int check1 = 1;
    bool visible = false;
    QList<TrayPicture> pictures;

    QString Text1() const override { return host; }
    void List1AddLines(QByteArrayView lines) override {
        AppendLoggedLines(lines, list1);
        ++list1AddCalls;
    }
    void List2AddLines(QByteArrayView lines) override { AppendLoggedLines(lines, list2); }
    void List1Clear() override { list1.clear(); }
    void List2Clear() override { list2.clear(); }
    QStringList List3Items() const override { return list3; }
    int Check1Value() const override { return check1; }
    void ShowWindow() override { visible = true; }
    void HideWindow() override { visible = false; }
    void TraySetImage(TrayPicture picture) override { pictures.append(picture); }
    TrayPicture Picture() const { return pictures.isEmpty() ? TrayPicture{} : pictures.last(); }
};
