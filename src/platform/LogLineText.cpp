#include "platform/LogLineText.h"

#include "platform/Cp932.h"
#include "platform/Lines.h"
#include "platform/ShownControls.h"

#include <QtEndian>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Sixteen bytes at a time, each with one bit in the marks (the first byte's lowest) when it is no
// printable ASCII: below 0x20 (tab and CR among them), 0x7F, or from 0x80 up.
constexpr qsizetype ChunkSize = 16;

#ifdef __SSE2__
using Chunk = __m128i;

Chunk LoadChunk(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

void StoreChunk(char* at, Chunk chunk) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), chunk);
}

quint32 NonPrintableMarks(Chunk chunk) {
    // Compared as signed bytes, those from 0x80 up are below 0x20 too.
    const Chunk belowSpace = _mm_cmplt_epi8(chunk, _mm_set1_epi8(0x20));
    const Chunk deletes = _mm_cmpeq_epi8(chunk, _mm_set1_epi8(0x7F));
    return quint32(_mm_movemask_epi8(_mm_or_si128(belowSpace, deletes)));
}
#else
struct Chunk {
    quint64 words[2];
};

Chunk LoadChunk(const char* at) {
    return {{qFromLittleEndian<quint64>(at), qFromLittleEndian<quint64>(at + 8)}};
}

void StoreChunk(char* at, Chunk chunk) {
    qToLittleEndian(chunk.words[0], at);
    qToLittleEndian(chunk.words[1], at + 8);
}

// The sums stay within each byte; the multiplication gathers each byte's high bit into one byte.
quint32 NonPrintableMarks(quint64 word) {
    constexpr quint64 Ones = 0x0101010101010101ULL;
    constexpr quint64 Highs = 0x8080808080808080ULL;
    const quint64 low = word & ~Highs;
    const quint64 fromSpace = low + 0x60 * Ones; // high bit set from 0x20 up
    const quint64 fromDelete = low + Ones;       // high bit set at 0x7F
    const quint64 marks = (word | ~fromSpace | fromDelete) & Highs;
    return quint32(((marks >> 7) * 0x0102040810204080ULL) >> 56);
}

quint32 NonPrintableMarks(Chunk chunk) {
    return NonPrintableMarks(chunk.words[0]) | NonPrintableMarks(chunk.words[1]) << 8;
}
#endif

// The next sixteen bytes; past the end of the text, zero bytes, which count as not printable.
Chunk ChunkAt(const char* at, const char* end) {
    if (end - at >= ChunkSize) {
        return LoadChunk(at);
    }
    char padded[ChunkSize] = {};
    std::memcpy(padded, at, size_t(end - at));
    return LoadChunk(padded);
}

} // namespace

// Bytes enough for the lines of `rest` and one chunk beyond: each line of at least two bytes
// ("\r\n") grows by the stamp and prefix less one byte at most; a line shown with escapes makes
// room for itself.
qsizetype LogLineText::Room(qsizetype rest, qsizetype lead) {
    return rest + (rest / 2 + 1) * lead + ChunkSize;
}

// QByteArray grows its capacity by more than asked, so lines shown with escapes, one after the
// other, do not move the buffer each time.
void LogLineText::EnsureRoom(qsizetype needed) {
    if (needed > shown.size()) {
        shown.resize(needed);
    }
}

// A block's lines go out together: a huge UIDL or TOP reply must not cost a system call per
// line, nor more than one pass over its bytes. The block is copied a chunk at a time, each chunk
// where its bytes go, and the bytes that are not printable ASCII are looked at on the way: the CR
// LF of a line moves what follows behind the next line's lead. A line with other such bytes
// takes the slow way through code page 932 and the escapes. The chunks are read one after the
// other whatever the lines' lengths, so reading never waits for the end of the line before.
QByteArrayView LogLineText::Lines(QByteArrayView stamp, QByteArrayView prefix,
                                  QByteArrayView block) {
    const qsizetype lead = stamp.size() + prefix.size();
    // Whole chunks, so that each line's lead is a store or two.
    paddedLead.resize((lead + ChunkSize - 1) / ChunkSize * ChunkSize);
    std::copy(stamp.begin(), stamp.end(), paddedLead.begin());
    std::copy(prefix.begin(), prefix.end(), paddedLead.begin() + stamp.size());
    EnsureRoom(Room(block.size(), lead));
    char* base = shown.data();
    const auto putLead = [this, &base, lead](qsizetype at) {
        for (qsizetype done = 0; done < lead; done += ChunkSize) {
            std::memcpy(base + at + done, paddedLead.constData() + done, ChunkSize);
        }
    };

    const char* const in = block.data();
    const qsizetype size = block.size();
    qsizetype used = 0;      // the shown lines so far
    qsizetype lineStart = 0; // where the line being copied starts in the block
    qsizetype shift = lead;  // where its bytes go: their offset in the block and this
    putLead(0);
    qsizetype at = 0;
    while (at < size) {
        const Chunk chunk = ChunkAt(in + at, in + size);
        // Whole chunks: what lands behind a line is written over by the next one.
        StoreChunk(base + at + shift, chunk);
        qsizetype next = at + ChunkSize;
        for (quint32 marks = NonPrintableMarks(chunk); marks != 0;) {
            const qsizetype mark = at + std::countr_zero(marks);
            if (mark + 1 >= size) {
                return QByteArrayView(shown).first(used); // what follows the last CR LF
            }
            if (in[mark] == '\r' && in[mark + 1] == '\n') {
                base[mark + shift] = '\n';
                used = mark + shift + 1;
                lineStart = mark + CrLf.size();
                putLead(used);
                shift = used + lead - lineStart;
                if (lineStart >= next) {
                    next = lineStart; // the LF was this chunk's last byte, or the next one's first
                    break;
                }
                StoreChunk(base + lineStart + shift, ChunkAt(in + lineStart, in + size));
                marks &= marks - 1; // the CR
                marks &= marks - 1; // the LF
                continue;
            }
            const qsizetype lineEnd = QByteArrayView(in + mark, in + size).indexOf(CrLf);
            if (lineEnd < 0) {
                return QByteArrayView(shown).first(used);
            }
            const QByteArrayView text(in + lineStart, in + mark + lineEnd);
            lineStart = mark + lineEnd + CrLf.size();
            // The wire's code page becomes the reader's encoding.
            const QByteArray escaped = EscapedControls(Cp932ToText(text)).toLocal8Bit();
            EnsureRoom(used + lead + escaped.size() + 1 + Room(size - lineStart, lead));
            base = shown.data();
            std::memcpy(base + used + lead, escaped.constData(), size_t(escaped.size()));
            used += lead + escaped.size() + 1;
            base[used - 1] = '\n';
            putLead(used);
            shift = used + lead - lineStart;
            next = lineStart;
            break;
        }
        at = next;
    }
    return QByteArrayView(shown).first(used);
}
