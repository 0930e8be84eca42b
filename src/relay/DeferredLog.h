#pragma once

#include "platform/Connection.h"
#include "relay/RelayView.h"

#include <QByteArray>
#include <QList>

// The lines of both logs of one conversation, in their order, held back while a burst of logged
// lines from the server goes on. Formatting the lines of a long reply for the log costs about as
// much as relaying them, so the relay first passes the burst on and shows its lines once it
// pauses, once a block brings no lines (a message's body after its logged header: the held
// blocks are not kept alive for the rest of the message), or once HoldLimit bytes are held; the
// log then reads as before, only a little later. A few lines are shown at once: asking whether
// more is coming would cost them more than showing them. The lines are the blocks' own bytes,
// shared rather than copied.
class DeferredLog {
public:
    static constexpr qsizetype BurstBytes = 64 * 1024;
    static constexpr qsizetype HoldLimit = 4 * 1024 * 1024;

    explicit DeferredLog(RelayView& view) : view(view) {}
    ~DeferredLog() { Flush(); }
    DeferredLog(const DeferredLog&) = delete;
    DeferredLog& operator=(const DeferredLog&) = delete;

    // Complete lines, each ending with CR LF.
    void AddServerLines(const QByteArray& lines) { Hold(true, lines); }
    void AddClientLines(const QByteArray& lines) { Hold(false, lines); }
    // Shows what is held, unless lines came since the last call and their burst is still on its
    // way from `source`.
    void Settle(const Connection& source);
    void Flush();

private:
    struct Lines {
        bool fromServer;
        QByteArray text;
    };
    void Hold(bool fromServer, const QByteArray& lines);

    RelayView& view;
    QList<Lines> held;
    qsizetype heldBytes = 0;
    bool grown = false; // lines came since the last Settle
};
