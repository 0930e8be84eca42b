#include "relay/EncodedWords.h"

namespace {
// Printable ASCII but "?", the one character that ends a charset or the encoded text.
bool IsWordChar(char c) {
    return c > ' ' && c < 0x7f && c != '?';
}

qsizetype WordCharsFrom(QByteArrayView line, qsizetype at) {
    qsizetype end = at;
    while (end < line.size() && IsWordChar(line[end])) {
        ++end;
    }
    return end;
}
} // namespace

QList<EncodedWord> EncodedWordsIn(QByteArrayView line) {
    QList<EncodedWord> words;
    for (qsizetype start = line.indexOf(EncodedWordStart); start >= 0;
         start = line.indexOf(EncodedWordStart, start + 1)) {
        const qsizetype charsetEnd = WordCharsFrom(line, start + EncodedWordStart.size());
        const qsizetype textStart = charsetEnd + 3;
        if (charsetEnd == start + EncodedWordStart.size() || textStart >= line.size() ||
            line[charsetEnd] != '?' || !QByteArrayView("BbQq").contains(line[charsetEnd + 1]) ||
            line[charsetEnd + 2] != '?') {
            continue;
        }
        const qsizetype textEnd = WordCharsFrom(line, textStart);
        if (textEnd == textStart || !line.sliced(textEnd).startsWith("?=")) {
            continue;
        }
        QByteArrayView charset = line.sliced(start + EncodedWordStart.size(),
                                             charsetEnd - start - EncodedWordStart.size());
        const qsizetype language = charset.indexOf('*');
        if (language == 0) {
            continue;
        }
        if (language > 0) {
            charset = charset.first(language);
        }
        words.append({line.sliced(start, textEnd + 2 - start), charset});
        start = textEnd + 1; // the search goes on behind the word's "?="
    }
    return words;
}
