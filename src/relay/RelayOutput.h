#pragma once

#include "relay/Pieces.h"

#include <QByteArray>
#include <QStringList>

#include <functional>

// What one event on either connection turns into. Each side gets its bytes in one piece, in the
// order they were produced; the logs get whole lines, each ending with CR LF.
struct RelayOutput {
    QByteArray toClient;
    QByteArray toServer;
    // Lines for List1. It may end in an incomplete line, which is not logged: the text of a
    // block is kept as it came, without a copy, and CompleteLinesText cuts it when logging.
    QByteArray list1;
    QByteArray list2;

    // Appends part of `block` to `target`, sharing the block's bytes when it is all of it.
    static void Append(QByteArray& target, const QByteArray& block, qsizetype from,
                       qsizetype size) {
        if (target.isEmpty() && from == 0 && size == block.size()) {
            target = block;
        } else {
            target.append(QByteArrayView(block).sliced(from, size));
        }
    }

    // List1 gets more: an incomplete line at its end is dropped first, as it is never logged.
    QByteArray& List1ForAppending() {
        list1.truncate(CompleteLinesText(list1).size());
        return list1;
    }
};

// List3 and Check1 as the tagging reads them, at the moment it needs them, and the tagging's
// two further options, both off unless asked for.
struct TaggingRules {
    QStringList blockedList;
    int check1 = 0;
    bool encodedWords = false;  // charsets of encoded words in Subject and From count as well
    bool charsetHeader = false; // tagged mail gets "X-Quorlin-Charset:" behind its Subject
};
using TaggingRulesSource = std::function<TaggingRules()>;
