#pragma once

#include "relay/RelayView.h"
#include "relay/ReplyStream.h"

#include <QByteArray>
#include <QList>
#include <QTimer>

// The lines of both logs of one conversation, in their order, held back while a long reply from
// the server is on its way. Formatting the lines of a long reply for the log costs about as much
// as relaying them: done as the blocks come, it holds up the rest of the reply, and done the
// moment the reply has gone, it takes the processor from the mail client reading it. So once a
// reply has brought BurstBytes of logged lines, its lines are shown AfterReplyMs after the reply
// has ended; sooner once a block brings no
// lines (a message's body after its logged header: the held blocks are not kept alive for the
// rest of the message) or HoldLimit bytes are held, and LagMs after the first of them came if
// the server is slow. The log then reads as before, only a little later. Shorter replies are
// shown as they come. The lines are the blocks' own bytes, shared rather than copied.
//
// The server's bytes come as the network cut them: a line cut between two blocks waits for the
// rest of it and is shown whole. One longer than LineBound is shown in pieces of that size, and
// one the connection ended inside is shown as far as it came, so no byte is left out.
class DeferredLog {
public:
    static constexpr qsizetype BurstBytes = 64 * 1024;
    // Per conversation, enough for the UIDL reply of a hundred thousand messages. Blocks a client
    // has not read yet are held by its connection anyway, and nothing is held beyond LagMs.
    static constexpr qsizetype HoldLimit = 4 * 1024 * 1024;
    // Time for a mail client to read the end of a long reply it has just been given.
    static constexpr int AfterReplyMs = 10;
    // Long enough for a long reply from a nearby server, short enough to read as at once.
    static constexpr int LagMs = 100;
    // As much as a reply's start is gathered for the tagging.
    static constexpr qsizetype LineBound = ReplyStream::GatherLimit;

    explicit DeferredLog(RelayView& view);
    ~DeferredLog() { Flush(); }
    DeferredLog(const DeferredLog&) = delete;
    DeferredLog& operator=(const DeferredLog&) = delete;

    // The server's bytes for its log, which may begin or end inside a line.
    void AddServerText(const QByteArray& text);
    // Complete lines, each ending with CR LF.
    void AddClientLines(const QByteArray& lines) { Hold(false, lines); }
    // Shows what is held, now or soon, as above; `underway`: part of a reply has come from the
    // server, and its end has not.
    void Settle(bool underway);
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
    qsizetype burstBytes = 0; // logged since the conversation was last at rest
    bool grown = false;       // lines came since the last Settle
    QTimer lagTimer;
    QByteArray cutLine; // the start of a server line whose end has not come yet
};
