#include "relay/DeferredLog.h"

#include "platform/Lines.h"

#include <utility>

namespace {

// Where the line that `cut` began ends in `text`: the offset behind its CR LF, or -1.
qsizetype EndOfCutLine(QByteArrayView cut, QByteArrayView text) {
    if (cut.endsWith('\r') && text.startsWith('\n')) {
        return 1;
    }
    const qsizetype crLf = text.indexOf(CrLf);
    return crLf < 0 ? -1 : crLf + CrLf.size();
}

} // namespace

DeferredLog::DeferredLog(RelayView& view) : view(view) {
    lagTimer.setSingleShot(true);
    QObject::connect(&lagTimer, &QTimer::timeout, [this] { ShowHeld(); });
}

void DeferredLog::AddServerText(const QByteArray& text) {
    qsizetype from = 0;
    if (!cutLine.isEmpty()) {
        const qsizetype end = EndOfCutLine(cutLine, text);
        if (end < 0) {
            HoldCutLine(std::exchange(cutLine, QByteArray()) + text);
            return;
        }
        Hold(true, std::exchange(cutLine, QByteArray()).append(QByteArrayView(text).first(end)));
        from = end;
    }
    const qsizetype lastLineEnd = text.lastIndexOf(CrLf);
    const qsizetype complete = lastLineEnd < from ? from : lastLineEnd + CrLf.size();
    Hold(true, text, from, complete - from);
    if (complete < text.size()) {
        HoldCutLine(text.sliced(complete));
    }
}

// A line too long to wait for its end whole is shown in pieces, so what is held stays bounded.
void DeferredLog::HoldCutLine(const QByteArray& line) {
    qsizetype from = 0;
    for (; line.size() - from >= LineBound; from += LineBound) {
        Hold(true, line.sliced(from, LineBound).append(CrLf));
    }
    cutLine = from == 0 ? line : line.sliced(from);
}

void DeferredLog::Hold(bool fromServer, const QByteArray& text, qsizetype from, qsizetype size) {
    if (size == 0) {
        return;
    }
    held.append({fromServer, text, from, size});
    heldBytes += size;
    burstBytes += size;
    grown = true;
}

void DeferredLog::Settle(bool underway) {
    const bool grew = std::exchange(grown, false);
    const qsizetype burst = std::exchange(burstBytes, underway ? burstBytes : 0);
    if (held.isEmpty()) {
        return;
    }
    if (burst < BurstBytes || heldBytes >= HoldLimit || (underway && !grew)) {
        ShowHeld();
    } else if (!underway) {
        lagTimer.start(AfterReplyMs);
    } else if (!lagTimer.isActive()) {
        lagTimer.start(LagMs);
    }
}

void DeferredLog::Flush() {
    if (!cutLine.isEmpty()) {
        Hold(true, std::exchange(cutLine, QByteArray()).append(CrLf));
    }
    ShowHeld();
}

void DeferredLog::ShowHeld() {
    lagTimer.stop();
    const QList<Lines> shown = std::exchange(held, {});
    heldBytes = 0;
    for (const Lines& lines : shown) {
        const QByteArrayView text = QByteArrayView(lines.text).sliced(lines.from, lines.size);
        if (lines.fromServer) {
            view.AddServerLines(text);
        } else {
            view.AddClientLines(text);
        }
    }
}
