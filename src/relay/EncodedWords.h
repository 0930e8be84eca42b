#pragma once

#include <QByteArrayView>
#include <QList>

inline constexpr QByteArrayView EncodedWordStart = "=?";

// An RFC 2047 encoded word, "=?charset?B?text?=" or "=?charset?Q?text?=", as it stands in a
// header line.
struct EncodedWord {
    QByteArrayView word;
    // Without the RFC 2231 language ("=?GB2312*zh?B?...?=" declares GB2312).
    QByteArrayView charset;
};

// The encoded words of one header line, in order. Words that touch other text count too:
// mail programs and spam filters read them so.
QList<EncodedWord> EncodedWordsIn(QByteArrayView line);
