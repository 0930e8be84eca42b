#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

// What the relay tail does with one server block while a RETR reply is expected.
struct TaggingResult {
    // The complete lines to log, each with its CR LF: the text after the last CR LF never is,
    // and a block that is not inspected logs nothing.
    QByteArray logLines;
    QByteArray forward; // the bytes to send to the mail client
};

// The tag put behind "Subject: " of mail in a blocked character set.
inline constexpr char BlockedTag[] = "[VudOdirOro]";

// Inspects one block against the blocked list (List3's entries) and Check1 (only 1 counts as
// ticked). Pure: depends on nothing but its arguments.
TaggingResult InspectBlock(const QByteArray& block, const QStringList& blockedList, int check1);

// The scan's two tests on one header line (without its CR LF).
bool IsCharsetLine(QByteArrayView line);
bool IsSubjectLine(QByteArrayView line);

// Where the header that InspectBlock would inspect starts in a reply that begins with `start`:
// its offset, HeaderUnknownYet while more bytes could still make it one, or NoHeader.
inline constexpr qsizetype NoHeader = -1;
inline constexpr qsizetype HeaderUnknownYet = -2;
qsizetype HeaderOffset(QByteArrayView start);
