#pragma once

#include "relay/HeaderScan.h"
#include "relay/Login.h"
#include "relay/RelayOutput.h"
#include "relay/ReplyKind.h"
#include "relay/Tagging.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <deque>

// What one conversation's mail check came to, as the account's last check shows it.
struct CheckTally {
    bool loginAnswered = false;
    bool loginAccepted = false;
    int retrieved = 0; // RETR replies with "+OK"
    int tagged = 0;
};

// The server's side of one conversation, without sockets: replies are relayed as they come,
// except where their kind needs a look at them, and each reply goes to the client in the order
// of the commands, the relay's own answers included (a pipelining client reads them in order).
class ReplyStream {
public:
    // Most bytes held back from the start of a RETR reply until the tagging can be decided;
    // a header that needs more than this is inspected as far as it came, and one that has
    // not ended by then is relayed untouched.
    static constexpr qsizetype GatherLimit = 256 * 1024;
    static constexpr qsizetype LineLimit = ReplyLineLimit;

    explicit ReplyStream(qsizetype gatherLimit = GatherLimit) : gatherLimit(gatherLimit) {}

    // A new server connection: nothing held, nothing expected.
    void Reset();
    // A command went to the server: its reply is expected after those already expected. A CAPA
    // reply gets `ownLines` (whole lines) before its end.
    void Expect(ReplyKind kind, RelayOutput& out, const QByteArray& ownLines = {});
    // The same for a login (APOP, or USER and PASS inside TLS): its answer counts in the tally.
    void ExpectLogin(ReplyKind kind, RelayOutput& out);
    // The relay's own reply to a client command, sent once the replies before it are through.
    void Answer(QByteArrayView reply, RelayOutput& out);
    // The same for the reply to an accepted STLS: the client's TLS starts behind it.
    void AnswerBeforeTls(QByteArrayView reply, RelayOutput& out);
    // A block from the server, after its greeting.
    void Feed(const QByteArray& block, const TaggingRulesSource& rules, RelayOutput& out);
    // The server has closed: what is held goes out as it is (a gathered reply start inspected),
    // and no reply is awaited any more.
    void ServerClosed(const TaggingRulesSource& rules, RelayOutput& out);

    // Bytes held for the client: a gathered reply start and the relay's answers in the queue.
    qsizetype HeldBytes() const;
    // Replies are still to come before the client is answered up to now.
    bool AwaitsReplies() const { return !queue.empty() && !EndedUnseen(); }
    // Part of a reply has come and its end has not.
    bool ReplyUnderway() const { return AwaitsReplies() && seen > 0; }
    // Entries of the reply kind queue, for the memory it takes: replies of one kind expected one
    // after another share an entry, so a client that pipelines thousands of NOOPs costs one.
    qsizetype QueueEntries() const { return qsizetype(queue.size()); }
    // The reply kind queue, first expected first.
    QList<ReplyKind> ExpectedKinds() const;
    const CheckTally& Tally() const { return tally; }

private:
    struct Expected {
        ReplyKind kind;
        qsizetype count;        // replies of this kind one after another (1 for Local)
        QByteArray answer;      // Local: the answer; Capa: Quorlin's own capability lines
        bool startsTls = false; // Local: the client's TLS starts behind the answer
        bool login = false;
    };

    // Handles bytes of the reply at the head of the queue; returns how many it took.
    qsizetype FeedHead(const QByteArray& block, qsizetype from, const TaggingRulesSource& rules,
                       RelayOutput& out);
    qsizetype FeedCapa(const QByteArray& block, qsizetype from, RelayOutput& out);
    qsizetype FeedLoginPair(const QByteArray& block, qsizetype from, RelayOutput& out);
    qsizetype FeedRetr(const QByteArray& block, qsizetype from, const TaggingRulesSource& rules,
                       RelayOutput& out);
    qsizetype PassThrough(const QByteArray& block, qsizetype from, bool logged, RelayOutput& out);
    void CapaLine(QByteArrayView line, RelayOutput& out);
    void DecideTagging(const TaggingRulesSource& rules, BlockEnd end, RelayOutput& out);
    bool ScanGathered();

    // Where the head reply ends in data (the offset behind it), or -1; the head's bytes before
    // data are known through `seen` and `tail`.
    qsizetype EndIn(QByteArrayView data) const;
    void Took(QByteArrayView data);
    bool MultiLineHead(QByteArrayView data) const;
    bool EndedUnseen() const;
    void Settle(RelayOutput& out);
    void ClearHead();
    void FinishHead(RelayOutput& out);
    void SendAnswers(RelayOutput& out);
    void Queue(QByteArrayView reply, bool startsTls, RelayOutput& out);

    qsizetype gatherLimit;
    std::deque<Expected> queue;

    // The reply at the head of the queue, so far.
    qsizetype seen = 0;
    char first = 0;              // its first byte: "+" for a multi-line reply
    char tail[5] = {};           // its last bytes, for an end that falls between two blocks
    qsizetype tailSize = 0;      // how many of them there are
    QByteArray held;             // an incomplete CAPA line, the gathered RETR start
    bool decided = false;        // RETR: what is held is out, the rest passes
    bool passingLine = false;    // CAPA: a line too long to hold passes as it comes
    qsizetype headerStart = -1;  // RETR: where the inspected header starts in `held`
    qsizetype scanFrom = 0;      // RETR: start of the first line of `held` not yet scanned
    qsizetype searchFrom = 0;    // RETR: where to look on for that line's CR LF
    LoginReplyPair loginReplies; // LoginPair
    HeaderScan scan;             // RETR: the gathered lines as the tagging reads them
    CheckTally tally;
};
