#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>

// What one event on either connection turns into. Each side gets its bytes in one piece, in the
// order they were produced; the client log gets whole lines, each ending with CR LF.
struct RelayOutput {
    QByteArray toClient;
    QByteArray toServer;
    // Bytes for the server log, as they came: they may end inside a line, which the next
    // event's bytes go on (the log shows whole lines). Kept without a copy where a block is
    // logged whole.
    QByteArray serverLog;
    QByteArray clientLog;
    // The client's STLS was accepted: toClient from this offset on goes inside TLS; -1 when not.
    qsizetype clientTlsFrom = -1;
    // The login needs another account's server: its index; -1 when not.
    int reroute = -1;

    // Appends part of `block` to `target`, sharing the block's bytes when it is all of it.
    static void Append(QByteArray& target, const QByteArray& block, qsizetype from,
                       qsizetype size) {
        if (target.isEmpty() && from == 0 && size == block.size()) {
            target = block;
        } else {
            target.append(QByteArrayView(block).sliced(from, size));
        }
    }
};

// The settings the tagging reads, at the moment it needs them, and the tagging's two further
// options, both off unless asked for.
struct TaggingRules {
    QStringList blockedCharsets;
    bool tagUnlabelled = false; // tag mail that declares no character set
    bool encodedWords = false;  // charsets of encoded words in Subject and From count as well
    bool charsetHeader = false; // tagged mail gets "X-Quorlin-Charset:" behind its Subject
};
using TaggingRulesSource = std::function<TaggingRules()>;
