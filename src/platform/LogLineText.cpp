#include "platform/LogLineText.h"

#include "platform/Cp932.h"
#include "platform/Lines.h"
#include "platform/ShownControls.h"

#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

constexpr qsizetype WordSize = 8;

// Marks the high bit of each byte of the word that is no printable ASCII: below 0x20 (tab and
// CR among them), 0x7F, or from 0x80 up. The sums stay within each byte, so every mark is exact.
quint64 NonPrintableMarks(quint64 word) {
    constexpr quint64 Ones = 0x0101010101010101ULL;
    constexpr quint64 Highs = 0x8080808080808080ULL;
    const quint64 low = word & ~Highs;
    const quint64 fromSpace = low + 0x60 * Ones; // high bit set from 0x20 up
    const quint64 fromDelete = low + Ones;       // high bit set at 0x7F
    return (word | ~fromSpace | fromDelete) & Highs;
}

// The next eight bytes; past the end of the text, zero bytes, which count as not printable.
quint64 WordAt(const char* at, const char* end) {
    if (end - at >= WordSize) {
        return qFromLittleEndian<quint64>(at);
    }
    char padded[WordSize] = {};
    std::memcpy(padded, at, size_t(end - at));
    return qFromLittleEndian<quint64>(padded);
}

} // namespace

// Bytes enough for the lines of `rest` and one word beyond: each line of at least two bytes
// ("\r\n") grows by the stamp and prefix less one byte at most; a line shown with escapes makes
// room for itself.
qsizetype LogLineText::Room(qsizetype rest, qsizetype lead) {
    return rest + (rest / 2 + 1) * lead + WordSize;
}

void LogLineText::EnsureRoom(qsizetype needed) {
    if (needed > shown.size()) {
        shown.resize(qMax(2 * shown.size(), needed));
    }
}

// A block's lines go out together: a huge UIDL or TOP reply must not cost a system call per
// line, nor more than one pass over its bytes. A printable line is copied a word at a time while
// its end is looked for, since its CR is the first byte that is not printable; other lines take
// the slow way through code page 932 and the escapes.
QByteArrayView LogLineText::Lines(QByteArrayView stamp, QByteArrayView prefix,
                                  QByteArrayView block) {
    const qsizetype lead = stamp.size() + prefix.size();
    // Whole words, so that each line's lead is a few stores.
    leadWords.resize((lead + WordSize - 1) / WordSize * WordSize);
    std::memcpy(leadWords.data(), stamp.data(), size_t(stamp.size()));
    std::memcpy(leadWords.data() + stamp.size(), prefix.data(), size_t(prefix.size()));
    EnsureRoom(Room(block.size(), lead));
    char* base = shown.data();
    const char* line = block.data();
    const char* const end = line + block.size();
    qsizetype used = 0;
    for (;;) {
        char* out = base + used;
        for (qsizetype at = 0; at < lead; at += WordSize) {
            std::memcpy(out + at, leadWords.constData() + at, WordSize);
        }
        out += lead;
        const char* scan = line;
        for (;;) {
            const quint64 word = WordAt(scan, end);
            // Copied whole; what follows the line is written over by the next one.
            qToLittleEndian(word, out);
            if (const quint64 marks = NonPrintableMarks(word)) {
                const int printable = std::countr_zero(marks) / 8;
                scan += printable;
                out += printable;
                break;
            }
            scan += WordSize;
            out += WordSize;
        }
        if (scan + 1 >= end) {
            break; // no line end left: what follows the last CR LF is not shown
        }
        if (scan[0] == '\r' && scan[1] == '\n') {
            *out = '\n';
            used = out + 1 - base;
            line = scan + CrLf.size();
            continue;
        }
        const qsizetype lineEnd = QByteArrayView(scan, end).indexOf(CrLf);
        if (lineEnd < 0) {
            break;
        }
        const QByteArrayView text(line, scan + lineEnd);
        line = scan + lineEnd + CrLf.size();
        // The wire's code page becomes the reader's encoding.
        const QByteArray escaped = EscapedControls(Cp932ToText(text)).toLocal8Bit();
        EnsureRoom(used + lead + escaped.size() + 1 + Room(end - line, lead));
        base = shown.data();
        char* const escapedOut = base + used + lead;
        std::memcpy(escapedOut, escaped.constData(), size_t(escaped.size()));
        escapedOut[escaped.size()] = '\n';
        used += lead + escaped.size() + 1;
    }
    return QByteArrayView(shown).first(used);
}
