#include "relay/Pieces.h"

namespace {
constexpr char CrLf[] = "\r\n";

template <typename Visit> void ForEachPiece(const QByteArray& block, Visit visit) {
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = block.indexOf(CrLf, start);
        if (at < 0) {
            visit(block.mid(start), true);
            return;
        }
        visit(block.mid(start, at - start), false);
        start = at + 2;
    }
}
} // namespace

QList<QByteArray> SplitPieces(const QByteArray& block) {
    QList<QByteArray> pieces;
    ForEachPiece(block, [&](QByteArray piece, bool) { pieces.append(std::move(piece)); });
    return pieces;
}

QList<QByteArray> CompleteLines(const QByteArray& block) {
    QList<QByteArray> lines;
    ForEachPiece(block, [&](QByteArray piece, bool trailing) {
        if (!trailing) {
            lines.append(std::move(piece));
        }
    });
    return lines;
}

QByteArray JoinLines(const QList<QByteArray>& lines) {
    QByteArray joined;
    for (const QByteArray& line : lines) {
        joined.append(line).append(CrLf, 2);
    }
    return joined;
}

QByteArrayView CompleteLinesText(QByteArrayView block) {
    const qsizetype lastLineEnd = block.lastIndexOf(QByteArrayView(CrLf, 2));
    return lastLineEnd < 0 ? QByteArrayView() : block.first(lastLineEnd + 2);
}

QByteArray JoinPieces(const QList<QByteArray>& pieces) {
    QByteArray joined;
    qsizetype size = 0;
    for (const QByteArray& piece : pieces) {
        size += piece.size() + 2;
    }
    joined.reserve(size);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            joined.append(CrLf, 2);
        }
        joined.append(pieces[i]);
    }
    return joined;
}
