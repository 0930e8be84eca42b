#pragma once

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cstring>

// Random binary data from a seeded generator, so that a failing run can be repeated. Every byte
// equal to `avoid` is replaced by `instead`: one missing letter is enough to keep a command word
// ("S" for USER and PASS) or a header name ("R" for Return-Path) from appearing wherever the
// data happens to be cut into blocks.
inline QByteArray RandomBytes(QRandomGenerator& random, qsizetype size, char avoid = 0,
                              char instead = 0) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::array<quint32, 1024> chunk;
    for (qsizetype at = 0; at < size; at += qsizetype(sizeof chunk)) {
        random.fillRange(chunk.data(), chunk.size());
        std::memcpy(bytes.data() + at, chunk.data(), std::min<size_t>(sizeof chunk, size - at));
    }
    if (avoid != instead) {
        std::replace(bytes.begin(), bytes.end(), avoid, instead);
    }
    return bytes;
}

// Random command lines as a client might send them: no "S" (so no USER or PASS) and no CR (a
// line holding a CR that ends no line is refused, not relayed); lines end with the LFs that
// happen to come.
inline QByteArray RandomClientBytes(QRandomGenerator& random, qsizetype size) {
    QByteArray bytes = RandomBytes(random, size, 'S', 's');
    std::replace(bytes.begin(), bytes.end(), '\r', 'c');
    return bytes;
}

// Where two byte strings first differ, or -1 when they are equal; for failure messages that a
// multi-megabyte comparison cannot print.
inline qsizetype FirstDifference(const QByteArray& a, const QByteArray& b) {
    const auto [inA, inB] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (inA == a.end() && inB == b.end()) {
        return -1;
    }
    return qsizetype(inA - a.begin());
}
