#include "relay/SessionView.h"

#include "platform/Lines.h"

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

void SessionView::AddServerLines(QByteArrayView lines) {
    if (Shared()) {
        window.AddServerLines(Numbered(lines, number));
    } else {
        window.AddServerLines(lines);
    }
}

void SessionView::AddClientLines(QByteArrayView lines) {
    if (Shared()) {
        window.AddClientLines(Numbered(lines, number));
    } else {
        window.AddClientLines(lines);
    }
}

void SessionView::ClearServerLog() {
    if (!Shared()) {
        window.ClearServerLog();
    }
}

void SessionView::ClearClientLog() {
    if (!Shared()) {
        window.ClearClientLog();
    }
}

void SessionView::HideWindow() {
    if (!Shared()) {
        window.HideWindow();
    }
}
