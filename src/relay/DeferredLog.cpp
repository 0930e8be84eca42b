#include "relay/DeferredLog.h"

#include <utility>

void DeferredLog::Hold(bool fromServer, const QByteArray& lines) {
    if (lines.isEmpty()) {
        return;
    }
    held.append({fromServer, lines});
    heldBytes += lines.size();
    grown = true;
}

void DeferredLog::Settle(const Connection& source) {
    const bool burst = std::exchange(grown, false);
    if (!burst || heldBytes < BurstBytes || heldBytes >= HoldLimit || !source.MoreToRead()) {
        Flush();
    }
}

void DeferredLog::Flush() {
    const QList<Lines> shown = std::exchange(held, {});
    heldBytes = 0;
    for (const Lines& lines : shown) {
        if (lines.fromServer) {
            view.AddServerLines(lines.text);
        } else {
            view.AddClientLines(lines.text);
        }
    }
}
