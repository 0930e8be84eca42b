#include "relay/SessionView.h"

#include "relay/Pieces.h"

SessionView::SessionView(RelayView& target, std::function<int()> served, int clientNumber)
    : window(target), clientsServed(std::move(served)), number(clientNumber) {}

QByteArray SessionView::Numbered(QByteArrayView lines, int number) {
    const QByteArray prefix = '[' + QByteArray::number(number) + "] ";
    QByteArray numbered;
    numbered.reserve(lines.size() + (lines.size() / 2 + 1) * prefix.size());
    ForEachLine(lines,
                [&](QByteArrayView line) { numbered.append(prefix).append(line).append("\r\n"); });
    return numbered;
}

void SessionView::List1AddLines(QByteArrayView lines) {
    if (Shared()) {
        window.List1AddLines(Numbered(lines, number));
    } else {
        window.List1AddLines(lines);
    }
}

void SessionView::List2AddLines(QByteArrayView lines) {
    if (Shared()) {
        window.List2AddLines(Numbered(lines, number));
    } else {
        window.List2AddLines(lines);
    }
}

void SessionView::List1Clear() {
    if (!Shared()) {
        window.List1Clear();
    }
}

void SessionView::List2Clear() {
    if (!Shared()) {
        window.List2Clear();
    }
}

void SessionView::HideWindow() {
    if (!Shared()) {
        window.HideWindow();
    }
}
