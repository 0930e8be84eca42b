#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

// Bytes as the network may cut them, read from a fuzz input: the low four bits of its first byte
// count the cuts, that many bytes follow, each a piece's length less one; the rest is the bytes.
struct CutBytes {
    QByteArray whole;
    QList<QByteArray> pieces;
    QList<qsizetype> pieceEnds; // the offset in `whole` behind each piece

    explicit CutBytes(QByteArrayView input) {
        if (input.isEmpty()) {
            return;
        }
        const qsizetype cuts = qMin<qsizetype>(std::uint8_t(input[0]) & 15, input.size() - 1);
        whole = input.sliced(1 + cuts).toByteArray();
        qsizetype at = 0;
        for (const char length : input.sliced(1, cuts)) {
            const qsizetype taken = qMin<qsizetype>(std::uint8_t(length) + 1, whole.size() - at);
            pieces.append(whole.sliced(at, taken));
            at += taken;
            pieceEnds.append(at);
        }
        pieces.append(whole.sliced(at));
        pieceEnds.append(whole.size());
    }
};
