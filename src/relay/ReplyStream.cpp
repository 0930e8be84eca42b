#include "relay/ReplyStream.h"

#include "platform/Lines.h"
#include "relay/Tagging.h"

#include <cstring>
#include <string.h> // memmem

namespace {
constexpr QByteArrayView Terminator = "\r\n.\r\n";
constexpr QByteArrayView TerminatorLine = ".\r\n";
// Capabilities of the server a client must not see: Quorlin answers AUTH and STLS itself, so a
// client that saw the server's would try them and could end up without a login.
constexpr QByteArrayView HiddenCapabilities[] = {"SASL", "STLS"};

qsizetype LineEndIn(QByteArrayView data) {
    const auto* lf = static_cast<const char*>(std::memchr(data.data(), '\n', size_t(data.size())));
    return lf ? lf - data.data() + 1 : -1;
}

bool IsHiddenCapability(QByteArrayView line) {
    for (const QByteArrayView name : HiddenCapabilities) {
        if (line.size() >= name.size() &&
            line.first(name.size()).compare(name, Qt::CaseInsensitive) == 0 &&
            (line.size() == name.size() || QByteArrayView(" \t\r\n").contains(line[name.size()]))) {
            return true;
        }
    }
    return false;
}
} // namespace

void ReplyStream::Reset() {
    tally = {};
    queue.clear();
    ClearHead();
}

void ReplyStream::Expect(ReplyKind kind, RelayOutput& out, const QByteArray& ownLines) {
    Settle(out);
    if (!queue.empty() && queue.back().kind == kind && kind != ReplyKind::Local &&
        !queue.back().login && queue.back().answer == ownLines) {
        ++queue.back().count;
    } else {
        queue.push_back({kind, 1, ownLines});
    }
}

// An entry of its own: the tally reads the login's answer alone.
void ReplyStream::ExpectLogin(ReplyKind kind, RelayOutput& out) {
    Settle(out);
    queue.push_back({kind, 1, {}});
    queue.back().login = true;
}

void ReplyStream::Answer(QByteArrayView reply, RelayOutput& out) {
    Queue(reply, false, out);
}

void ReplyStream::AnswerBeforeTls(QByteArrayView reply, RelayOutput& out) {
    Queue(reply, true, out);
}

void ReplyStream::Queue(QByteArrayView reply, bool startsTls, RelayOutput& out) {
    Settle(out);
    if (queue.empty()) {
        out.toClient.append(reply);
        if (startsTls) {
            out.clientTlsFrom = out.toClient.size();
        }
    } else if (queue.back().kind == ReplyKind::Local && !queue.back().startsTls) {
        queue.back().answer.append(reply);
        queue.back().startsTls = startsTls;
    } else {
        queue.push_back({ReplyKind::Local, 1, reply.toByteArray(), startsTls});
    }
}

void ReplyStream::Feed(const QByteArray& block, const TaggingRulesSource& rules, RelayOutput& out) {
    qsizetype at = 0;
    while (at < block.size()) {
        if (queue.empty()) {
            // Nothing asked for it: relayed and logged as it comes.
            const qsizetype rest = block.size() - at;
            RelayOutput::Append(out.toClient, block, at, rest);
            RelayOutput::Append(out.serverLog, block, at, rest);
            return;
        }
        at += FeedHead(block, at, rules, out);
    }
}

void ReplyStream::ServerClosed(const TaggingRulesSource& rules, RelayOutput& out) {
    if (!queue.empty()) {
        const ReplyKind kind = queue.front().kind;
        if (kind == ReplyKind::Retr && !decided && !held.isEmpty()) {
            DecideTagging(rules, BlockEnd::Complete, out);
        } else if (kind == ReplyKind::Capa && !held.isEmpty()) {
            out.toClient.append(held);
            out.serverLog.append(held);
        }
    }
    queue.clear();
    ClearHead();
}

QList<ReplyKind> ReplyStream::ExpectedKinds() const {
    QList<ReplyKind> kinds;
    for (const Expected& expected : queue) {
        for (qsizetype i = 0; i < expected.count; ++i) {
            kinds.append(expected.kind);
        }
    }
    return kinds;
}

qsizetype ReplyStream::HeldBytes() const {
    qsizetype bytes = held.size();
    for (const Expected& expected : queue) {
        bytes += expected.answer.size();
    }
    return bytes;
}

qsizetype ReplyStream::FeedHead(const QByteArray& block, qsizetype from,
                                const TaggingRulesSource& rules, RelayOutput& out) {
    switch (queue.front().kind) {
    case ReplyKind::Capa:
        return FeedCapa(block, from, out);
    case ReplyKind::Retr:
        return FeedRetr(block, from, rules, out);
    case ReplyKind::LoginPair:
        return FeedLoginPair(block, from, out);
    case ReplyKind::SingleLine:
    case ReplyKind::MultiLine:
    case ReplyKind::Local: // never at the head while bytes arrive
        break;
    }
    return PassThrough(block, from, true, out);
}

qsizetype ReplyStream::FeedLoginPair(const QByteArray& block, qsizetype from, RelayOutput& out) {
    if (!decided) {
        loginReplies.Start();
        decided = true;
    }
    const QByteArray data = block.sliced(from);
    const LoginReplyPair::Result replies = loginReplies.Feed(data);
    out.toClient.append(replies.toClient);
    out.serverLog.append(replies.consumed);
    if (!loginReplies.Active()) {
        first = replies.toClient.isEmpty() ? '-' : replies.toClient.front(); // for the tally
        FinishHead(out);
    }
    return data.size() - replies.rest.size();
}

qsizetype ReplyStream::FeedCapa(const QByteArray& block, qsizetype from, RelayOutput& out) {
    const QByteArrayView data = QByteArrayView(block).sliced(from);
    qsizetype at = 0;
    while (at < data.size()) {
        const QByteArrayView rest = data.sliced(at);
        const qsizetype lineEnd = LineEndIn(rest);
        if (lineEnd < 0) {
            if (passingLine) {
                out.toClient.append(rest);
                Took(rest);
            } else {
                held.append(rest);
                if (held.size() > LineLimit) {
                    // Far too long for a capability name Quorlin leaves out: it goes as it is.
                    out.toClient.append(held);
                    Took(held);
                    held.clear();
                    passingLine = true;
                }
            }
            return data.size();
        }
        const QByteArrayView piece = rest.first(lineEnd);
        at += lineEnd;
        if (passingLine) {
            out.toClient.append(piece);
            Took(piece);
            passingLine = false;
            if (first != '+') {
                FinishHead(out); // it was an endless "-ERR" status line
                return at;
            }
            continue;
        }
        QByteArray line = held;
        line.append(piece);
        held.clear();
        out.serverLog.append(line);
        const bool status = seen == 0;
        Took(line);
        if (status) {
            out.toClient.append(line);
            if (first != '+') {
                FinishHead(out);
                return at;
            }
        } else if (line == TerminatorLine) {
            out.toClient.append(queue.front().answer);
            out.toClient.append(line);
            FinishHead(out);
            return at;
        } else if (!IsHiddenCapability(line)) {
            out.toClient.append(line);
        }
    }
    return data.size();
}

qsizetype ReplyStream::FeedRetr(const QByteArray& block, qsizetype from,
                                const TaggingRulesSource& rules, RelayOutput& out) {
    if (!decided && seen == 0) {
        const TaggingRules now = rules();
        decided = now.blockedCharsets.isEmpty(); // no inspection, and nothing of the reply logged
        scan = HeaderScan(now.encodedWords, now.charsetHeader);
    }
    if (decided) {
        return PassThrough(block, from, false, out);
    }
    // The reply's start is held until the tagging is decided, and then inspected as one
    // block: the result is the same however the network cut the reply.
    const QByteArrayView data = QByteArrayView(block).sliced(from);
    QByteArrayView chunk = data.first(qMin(data.size(), gatherLimit - held.size()));
    const qsizetype end = EndIn(chunk);
    if (end >= 0) {
        chunk = chunk.first(end);
    }
    held.append(chunk);
    Took(chunk);
    const bool atBound = end < 0 && held.size() >= gatherLimit;
    bool done = end >= 0 || atBound;
    if (!done && headerStart < 0) {
        const qsizetype header = HeaderOffset(held);
        done = header == NoHeader;
        if (header >= 0) {
            headerStart = scanFrom = searchFrom = header;
        }
    }
    if (!done && headerStart >= 0) {
        done = ScanGathered();
    }
    if (done) {
        DecideTagging(rules, atBound ? BlockEnd::AtGatherBound : BlockEnd::Complete, out);
        if (end >= 0) {
            FinishHead(out);
        }
    }
    return chunk.size();
}

// Scans the complete lines gathered since the last call as the tagging does; true once what
// follows cannot change the tagging.
bool ReplyStream::ScanGathered() {
    const QByteArrayView text(held);
    for (;;) {
        const qsizetype lineEnd = text.indexOf(CrLf, searchFrom);
        if (lineEnd < 0) {
            searchFrom = qMax(scanFrom, text.size() - 1);
            return false;
        }
        scan.Line(text.sliced(scanFrom, lineEnd - scanFrom));
        scanFrom = searchFrom = lineEnd + CrLf.size();
        if (scan.Decided()) {
            return true;
        }
    }
}

void ReplyStream::DecideTagging(const TaggingRulesSource& rules, BlockEnd end, RelayOutput& out) {
    TaggingResult result = InspectBlock(held, rules(), end);
    // The tagging only ever adds (the tag, a Subject line): more bytes are a tagged message.
    if (result.forward.size() > held.size()) {
        ++tally.tagged;
    }
    out.toClient.append(result.forward);
    if (!result.logLines.isEmpty()) {
        out.serverLog.append(result.logLines);
    }
    held.clear();
    decided = true;
}

qsizetype ReplyStream::PassThrough(const QByteArray& block, qsizetype from, bool logged,
                                   RelayOutput& out) {
    const QByteArrayView data = QByteArrayView(block).sliced(from);
    // The end of a long reply is only looked for when something waits behind it; otherwise
    // its blocks go on untouched, and only its last bytes are kept.
    const bool lookForEnd = !MultiLineHead(data) || queue.size() > 1 || queue.front().count > 1;
    const qsizetype end = lookForEnd ? EndIn(data) : -1;
    const qsizetype taken = end < 0 ? data.size() : end;
    RelayOutput::Append(out.toClient, block, from, taken);
    if (logged) {
        RelayOutput::Append(out.serverLog, block, from, taken);
    }
    Took(data.first(taken));
    if (end >= 0) {
        FinishHead(out);
    }
    return taken;
}

bool ReplyStream::MultiLineHead(QByteArrayView data) const {
    const ReplyKind kind = queue.front().kind;
    if (kind != ReplyKind::MultiLine && kind != ReplyKind::Capa && kind != ReplyKind::Retr) {
        return false;
    }
    const char lead = seen > 0 ? first : (data.isEmpty() ? char(0) : data[0]);
    return lead == '+';
}

qsizetype ReplyStream::EndIn(QByteArrayView data) const {
    if (!MultiLineHead(data)) {
        return LineEndIn(data);
    }
    // A terminator that began in the bytes before this data.
    const qsizetype before = qMin<qsizetype>(tailSize, Terminator.size() - 1);
    char window[2 * (Terminator.size() - 1)];
    std::memcpy(window, tail + tailSize - before, size_t(before));
    const qsizetype after = qMin<qsizetype>(data.size(), Terminator.size() - 1);
    std::memcpy(window + before, data.data(), size_t(after));
    const qsizetype straddling = QByteArrayView(window, before + after).indexOf(Terminator);
    if (straddling >= 0 && straddling < before) {
        return straddling + Terminator.size() - before;
    }
    // One inside the data.
    const void* found =
        memmem(data.data(), size_t(data.size()), Terminator.data(), size_t(Terminator.size()));
    return found ? static_cast<const char*>(found) - data.data() + Terminator.size() : -1;
}

void ReplyStream::Took(QByteArrayView data) {
    if (data.isEmpty()) {
        return;
    }
    if (seen == 0) {
        first = data[0];
    }
    seen += data.size();
    constexpr qsizetype keep = sizeof tail;
    if (data.size() >= keep) {
        std::memcpy(tail, data.data() + data.size() - keep, size_t(keep));
        tailSize = keep;
        return;
    }
    char joined[2 * keep];
    std::memcpy(joined, tail, size_t(tailSize));
    std::memcpy(joined + tailSize, data.data(), size_t(data.size()));
    const qsizetype total = tailSize + data.size();
    tailSize = qMin(total, keep);
    std::memcpy(tail, joined + total - tailSize, size_t(tailSize));
}

// A long reply passed without looking for its end may have ended already: its last bytes tell.
bool ReplyStream::EndedUnseen() const {
    return !queue.empty() && seen > 0 && MultiLineHead({}) &&
           QByteArrayView(tail, tailSize) == Terminator;
}

void ReplyStream::Settle(RelayOutput& out) {
    if (EndedUnseen()) {
        FinishHead(out);
    }
}

void ReplyStream::ClearHead() {
    seen = 0;
    first = 0;
    tailSize = 0;
    held.clear();
    decided = false;
    passingLine = false;
    headerStart = -1;
    scanFrom = searchFrom = 0;
    scan = HeaderScan();
}

void ReplyStream::FinishHead(RelayOutput& out) {
    Expected& head = queue.front();
    if (head.login) {
        tally.loginAnswered = true;
        tally.loginAccepted = first == '+';
    } else if (head.kind == ReplyKind::Retr && first == '+') {
        ++tally.retrieved;
    }
    if (--head.count == 0) {
        queue.pop_front();
    }
    ClearHead();
    SendAnswers(out);
}

void ReplyStream::SendAnswers(RelayOutput& out) {
    while (!queue.empty() && queue.front().kind == ReplyKind::Local) {
        out.toClient.append(queue.front().answer);
        if (queue.front().startsTls) {
            out.clientTlsFrom = out.toClient.size();
        }
        queue.pop_front();
    }
}
