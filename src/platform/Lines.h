#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstring>

// The line end of POP3 and of mail.
inline constexpr QByteArrayView CrLf = "\r\n";

// A block cut at every CR LF pair: n pairs give n + 1 pieces, the last one being what follows
// the last CR LF (empty when the block ends with CR LF). A lone CR or LF does not cut.
QList<QByteArray> SplitPieces(const QByteArray& block);

// Pieces joined back: each but the last followed by CR LF.
QByteArray JoinPieces(const QList<QByteArray>& pieces);

// Lines joined, each followed by CR LF: the form in which the logs take them.
QByteArray JoinLines(const QList<QByteArray>& lines);

// The part of a block that holds its complete lines: up to and including the last CR LF.
QByteArrayView CompleteLinesText(QByteArrayView block);

// Calls visit(line) for every line of text that ends with CR LF, without the CR LF; text after
// the last CR LF is not visited. Cheap enough for every block of a huge reply: no allocation.
template <typename Visit> void ForEachLine(QByteArrayView text, Visit visit) {
    const char* lineStart = text.data();
    const char* scan = lineStart;
    const char* const end = lineStart + text.size();
    while (scan < end) {
        const auto* cr = static_cast<const char*>(std::memchr(scan, '\r', size_t(end - scan)));
        if (!cr || cr + 1 >= end) {
            return;
        }
        if (cr[1] == '\n') {
            visit(QByteArrayView(lineStart, cr - lineStart));
            lineStart = cr + 2;
            scan = lineStart;
        } else {
            scan = cr + 1;
        }
    }
}
