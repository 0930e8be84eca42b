#include "platform/LogLineText.h"

#include "platform/Cp932.h"
#include "platform/Lines.h"
#include "platform/ShownControls.h"

#include <cstring>

namespace {

// Eight bytes at a time: this runs over every logged line, and most of them are printable
// ASCII, which goes out as it is. For each word, three tests that are exact as a whole: a byte
// from 0x80 up, a byte below 0x20 (tab among them), a byte 0x7F.
bool IsPrintableAscii(QByteArrayView bytes) {
    constexpr quint64 Ones = 0x0101010101010101ULL;
    constexpr quint64 Highs = 0x8080808080808080ULL;
    const char* scan = bytes.data();
    qsizetype left = bytes.size();
    quint64 seen = 0;
    for (; left >= 8; scan += 8, left -= 8) {
        quint64 word;
        std::memcpy(&word, scan, sizeof word);
        const quint64 deletes = word ^ (0x7F * Ones);
        seen |= word | ((word - 0x20 * Ones) & ~word) | ((deletes - Ones) & ~deletes);
    }
    for (; left > 0; ++scan, --left) {
        const auto byte = static_cast<unsigned char>(*scan);
        if (byte < 0x20 || byte >= 0x7F) {
            seen |= Highs;
        }
    }
    return (seen & Highs) == 0;
}

} // namespace

// A block's lines go out together: a huge UIDL or TOP reply must not cost a system call per
// line, nor more than a copy per byte.
QByteArrayView LogLineText::Lines(QByteArrayView stamp, QByteArrayView prefix,
                                  QByteArrayView block) {
    // Each line of at least two bytes ("\r\n") grows by the stamp and prefix less one byte at
    // most; a line shown with escapes makes room for itself.
    shown.resize(block.size() + (block.size() / 2 + 1) * (stamp.size() + prefix.size()));
    qsizetype used = 0;
    const auto put = [this, &used](QByteArrayView bytes) {
        if (bytes.isEmpty()) {
            return;
        }
        if (used + bytes.size() > shown.size()) {
            shown.resize(qMax(2 * shown.size(), used + bytes.size()));
        }
        std::memcpy(shown.data() + used, bytes.data(), static_cast<size_t>(bytes.size()));
        used += bytes.size();
    };
    ForEachLine(block, [&put, stamp, prefix](QByteArrayView line) {
        put(stamp);
        put(prefix);
        if (IsPrintableAscii(line)) {
            put(line);
        } else {
            // The wire's code page becomes the reader's encoding.
            put(EscapedControls(Cp932ToText(line)).toLocal8Bit());
        }
        put("\n");
    });
    return QByteArrayView(shown).first(used);
}
