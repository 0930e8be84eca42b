#include "platform/Lines.h"

QList<QByteArray> SplitPieces(const QByteArray& block) {
    QList<QByteArray> pieces;
    qsizetype start = 0;
    for (qsizetype at; (at = block.indexOf(CrLf, start)) >= 0; start = at + 2) {
        pieces.append(block.mid(start, at - start));
    }
    pieces.append(block.mid(start));
    return pieces;
}

QByteArray JoinLines(const QList<QByteArray>& lines) {
    QByteArray joined;
    for (const QByteArray& line : lines) {
        joined.append(line).append(CrLf);
    }
    return joined;
}

QByteArrayView CompleteLinesText(QByteArrayView block) {
    const qsizetype lastLineEnd = block.lastIndexOf(CrLf);
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
            joined.append(CrLf);
        }
        joined.append(pieces[i]);
    }
    return joined;
}
