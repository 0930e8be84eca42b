#pragma once

#include "relay/Pieces.h"
#include "relay/RelayView.h"

#include <QList>

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
    QList<int> pictures;

    QString Text1() const override { return host; }
    void List1AddLines(QByteArrayView lines) override {
        ForEachLine(lines, [this](QByteArrayView line) { list1.append(line.toByteArray()); });
        ++list1AddCalls;
    }
    void List2AddLines(QByteArrayView lines) override {
        ForEachLine(lines, [this](QByteArrayView line) { list2.append(line.toByteArray()); });
    }
    void List1Clear() override { list1.clear(); }
    void List2Clear() override { list2.clear(); }
    QStringList List3Items() const override { return list3; }
    int Check1Value() const override { return check1; }
    void ShowWindow() override { visible = true; }
    void HideWindow() override { visible = false; }
    void TraySetImage(int picture) override { pictures.append(picture); }
    int Picture() const { return pictures.isEmpty() ? 0 : pictures.last(); }
};
