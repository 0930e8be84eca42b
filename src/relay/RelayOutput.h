#pragma once

#include "platform/Lines.h"

#include <QByteArray>
#include <QStringList>

#include <functional>

// What one event on either connection turns into. Each side gets its bytes in one piece, in the
// order they were produced; the logs get whole lines, each ending with CR LF.
struct RelayOutput {
    QByteArray toClient;
    QByteArray toServer;
    // Lines for the server log. It may end in an incomplete line, which is not logged: the text
    // of a block is kept as it came, without a copy, and CompleteLinesText cuts it when logging.
    QByteArray serverLog;
    QByteArray clientLog;
    // The client's STLS was accepted: toClient from this offset on goes inside TLS; -1 when not.
    qsizetype clientTlsFrom = -1;

    // Appends part of `block` to `target`, sharing the block's bytes when it is all of it.
    static void Append(QByteArray& target, const QByteArray& block, qsizetype from,
                       qsizetype size) {
        if (target.isEmpty() && from == 0 && size == block.size()) {
            target = block;
        } else {
            target.append(QByteArrayView(block).sliced(from, size));
        }
    }

    // The server log gets more: an incomplete line at its end is dropped first, as it is never
    // logged.
    QByteArray& ServerLogForAppending() {
        serverLog.truncate(CompleteLinesText(serverLog).size());
        return serverLog;
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
