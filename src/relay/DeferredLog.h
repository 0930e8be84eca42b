#pragma once

#include "platform/Connection.h"
#include "relay/RelayView.h"
#include "relay/ReplyStream.h"

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
//
// The server's bytes come as the network cut them: a line cut between two blocks waits for the
// rest of it and is shown whole. One longer than LineBound is shown in pieces of that size, and
// one the connection ended inside is shown as far as it came, so no byte is left out.
class DeferredLog {
public:
    static constexpr qsizetype BurstBytes = 64 * 1024;
    // Per conversation: ten clients at once that never read must leave the program well under
    // 64 MB.
    static constexpr qsizetype HoldLimit = 1024 * 1024;
    // As much as a reply's start is gathered for the tagging.
    static constexpr qsizetype LineBound = ReplyStream::GatherLimit;

    explicit DeferredLog(RelayView& view) : view(view) {}
    ~DeferredLog() { Flush(); }
    DeferredLog(const DeferredLog&) = delete;
    DeferredLog& operator=(const DeferredLog&) = delete;

    // The server's bytes for its log, which may begin or end inside a line.
    void AddServerText(const QByteArray& text);
    // Complete lines, each ending with CR LF.
    void AddClientLines(const QByteArray& lines) { Hold(false, lines); }
    // Shows what is held, unless lines came since the last call and their burst is still on its
    // way from `source`.
    void Settle(const Connection& source);
    // Shows everything held, a server line still waiting for its end too: the connection it came
    // from has ended.
    void Flush();

private:
    struct Lines {
        bool fromServer;
        QByteArray text; // shared with the block they came in
        qsizetype from;
        qsizetype size;
    };
    void Hold(bool fromServer, const QByteArray& text, qsizetype from, qsizetype size);
    void Hold(bool fromServer, const QByteArray& text) { Hold(fromServer, text, 0, text.size()); }
    void HoldCutLine(const QByteArray& line);
    void ShowHeld();

    RelayView& view;
    QList<Lines> held;
    qsizetype heldBytes = 0;
    bool grown = false; // lines came since the last Settle
    QByteArray cutLine; // the start of a server line whose end has not come yet
};
