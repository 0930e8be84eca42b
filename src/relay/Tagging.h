#pragma once

#include "relay/RelayOutput.h"

#include <QByteArray>
#include <QByteArrayView>

// What the relay tail does with one server block while a RETR reply is expected.
struct TaggingResult {
    // The complete lines to log, each with its CR LF: the text after the last CR LF never is,
    // and a block that is not inspected logs nothing.
    QByteArray logLines;
    QByteArray forward; // the bytes to send to the mail client
};

// The tag put behind "Subject: " of mail in a blocked character set.
inline constexpr char BlockedTag[] = "[VudOdirOro]";

// How an inspected block ends: with all there is to inspect (the reply's end, the server's
// close, or a single block), or cut at the gathering's bound with the header perhaps going on.
enum class BlockEnd : quint8 { Complete, AtGatherBound };

// Inspects one block against the rules. Pure: depends on nothing but its arguments.
TaggingResult InspectBlock(const QByteArray& block, const TaggingRules& rules,
                           BlockEnd end = BlockEnd::Complete);

// Where the header that InspectBlock would inspect starts in a reply that begins with `start`:
// its offset, HeaderUnknownYet while more bytes could still make it one, or NoHeader.
inline constexpr qsizetype NoHeader = -1;
inline constexpr qsizetype HeaderUnknownYet = -2;
qsizetype HeaderOffset(QByteArrayView start);
