#include "digest/MD5Hash.h"

#include <bit>
#include <cstring>

namespace MD5Hash_Module {

std::uint64_t DigestByteCount = 0;
std::array<std::uint32_t, 4> DigestState = {};
std::array<unsigned char, 64> DigestBuffer = {};

namespace {

using Word = std::uint32_t;
using State = std::array<Word, 4>;

constexpr State ResetState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// Everything below runs 64 times per block, so it must inline into one straight run of code
// with the shifts and constants as immediates; even at -O2 the compiler needs the nudge.
#define MD5_INLINE [[gnu::always_inline]] inline

MD5_INLINE Word LoadLittleEndian(const unsigned char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        Word w;
        std::memcpy(&w, p, sizeof w);
        return w;
    } else {
        return Word(p[0]) | Word(p[1]) << 8 | Word(p[2]) << 16 | Word(p[3]) << 24;
    }
}

// The round functions are written so that b, the word finished by the previous step, enters
// as late as possible: the rest of the step can then start before b is known. In GG the two
// terms never share a set bit, so OR equals the sum, which splits into two independent adds.
template <Round R> MD5_INLINE Word RoundFunction(Word b, Word c, Word d) {
    if constexpr (R == Round::FF) {
        return d ^ (b & (c ^ d));
    } else if constexpr (R == Round::GG) {
        return (c & ~d) + (b & d);
    } else if constexpr (R == Round::HH) {
        return b ^ (c ^ d);
    } else {
        return c ^ (b | ~d);
    }
}

template <Round R>
MD5_INLINE void DigestStep(Word& a, Word b, Word c, Word d, Word x, int s, Word t) {
    Word sum = a + x + t;
    sum += RoundFunction<R>(b, c, d);
    a = std::rotl(sum, s) + b;
}

MD5_INLINE void DigestBlock(State& state, const unsigned char* block) {
    Word X[16];
    for (int i = 0; i < 16; ++i) {
        X[i] = LoadLittleEndian(block + 4 * i);
    }
    Word a = state[0], b = state[1], c = state[2], d = state[3];

    constexpr auto FF = Round::FF, GG = Round::GG, HH = Round::HH, II = Round::II;
    DigestStep<FF>(a, b, c, d, X[0], 7, 0xd76aa478);
    DigestStep<FF>(d, a, b, c, X[1], 12, 0xe8c7b756);
    DigestStep<FF>(c, d, a, b, X[2], 17, 0x242070db);
    DigestStep<FF>(b, c, d, a, X[3], 22, 0xc1bdceee);
    DigestStep<FF>(a, b, c, d, X[4], 7, 0xf57c0faf);
    DigestStep<FF>(d, a, b, c, X[5], 12, 0x4787c62a);
    DigestStep<FF>(c, d, a, b, X[6], 17, 0xa8304613);
    DigestStep<FF>(b, c, d, a, X[7], 22, 0xfd469501);
    DigestStep<FF>(a, b, c, d, X[8], 7, 0x698098d8);
    DigestStep<FF>(d, a, b, c, X[9], 12, 0x8b44f7af);
    DigestStep<FF>(c, d, a, b, X[10], 17, 0xffff5bb1);
    DigestStep<FF>(b, c, d, a, X[11], 22, 0x895cd7be);
    DigestStep<FF>(a, b, c, d, X[12], 7, 0x6b901122);
    DigestStep<FF>(d, a, b, c, X[13], 12, 0xfd987193);
    DigestStep<FF>(c, d, a, b, X[14], 17, 0xa679438e);
    DigestStep<FF>(b, c, d, a, X[15], 22, 0x49b40821);

    DigestStep<GG>(a, b, c, d, X[1], 5, 0xf61e2562);
    DigestStep<GG>(d, a, b, c, X[6], 9, 0xc040b340);
    DigestStep<GG>(c, d, a, b, X[11], 14, 0x265e5a51);
    DigestStep<GG>(b, c, d, a, X[0], 20, 0xe9b6c7aa);
    DigestStep<GG>(a, b, c, d, X[5], 5, 0xd62f105d);
    DigestStep<GG>(d, a, b, c, X[10], 9, 0x02441453);
    DigestStep<GG>(c, d, a, b, X[15], 14, 0xd8a1e681);
    DigestStep<GG>(b, c, d, a, X[4], 20, 0xe7d3fbc8);
    DigestStep<GG>(a, b, c, d, X[9], 5, 0x21e1cde6);
    DigestStep<GG>(d, a, b, c, X[14], 9, 0xc33707d6);
    DigestStep<GG>(c, d, a, b, X[3], 14, 0xf4d50d87);
    DigestStep<GG>(b, c, d, a, X[8], 20, 0x455a14ed);
    DigestStep<GG>(a, b, c, d, X[13], 5, 0xa9e3e905);
    DigestStep<GG>(d, a, b, c, X[2], 9, 0xfcefa3f8);
    DigestStep<GG>(c, d, a, b, X[7], 14, 0x676f02d9);
    DigestStep<GG>(b, c, d, a, X[12], 20, 0x8d2a4c8a);

    DigestStep<HH>(a, b, c, d, X[5], 4, 0xfffa3942);
    DigestStep<HH>(d, a, b, c, X[8], 11, 0x8771f681);
    DigestStep<HH>(c, d, a, b, X[11], 16, 0x6d9d6122);
    DigestStep<HH>(b, c, d, a, X[14], 23, 0xfde5380c);
    DigestStep<HH>(a, b, c, d, X[1], 4, 0xa4beea44);
    DigestStep<HH>(d, a, b, c, X[4], 11, 0x4bdecfa9);
    DigestStep<HH>(c, d, a, b, X[7], 16, 0xf6bb4b60);
    DigestStep<HH>(b, c, d, a, X[10], 23, 0xbebfbc70);
    DigestStep<HH>(a, b, c, d, X[13], 4, 0x289b7ec6);
    DigestStep<HH>(d, a, b, c, X[0], 11, 0xeaa127fa);
    DigestStep<HH>(c, d, a, b, X[3], 16, 0xd4ef3085);
    DigestStep<HH>(b, c, d, a, X[6], 23, 0x04881d05);
    DigestStep<HH>(a, b, c, d, X[9], 4, 0xd9d4d039);
    DigestStep<HH>(d, a, b, c, X[12], 11, 0xe6db99e5);
    DigestStep<HH>(c, d, a, b, X[15], 16, 0x1fa27cf8);
    DigestStep<HH>(b, c, d, a, X[2], 23, 0xc4ac5665);

    DigestStep<II>(a, b, c, d, X[0], 6, 0xf4292244);
    DigestStep<II>(d, a, b, c, X[7], 10, 0x432aff97);
    DigestStep<II>(c, d, a, b, X[14], 15, 0xab9423a7);
    DigestStep<II>(b, c, d, a, X[5], 21, 0xfc93a039);
    DigestStep<II>(a, b, c, d, X[12], 6, 0x655b59c3);
    DigestStep<II>(d, a, b, c, X[3], 10, 0x8f0ccc92);
    DigestStep<II>(c, d, a, b, X[10], 15, 0xffeff47d);
    DigestStep<II>(b, c, d, a, X[1], 21, 0x85845dd1);
    DigestStep<II>(a, b, c, d, X[8], 6, 0x6fa87e4f);
    DigestStep<II>(d, a, b, c, X[15], 10, 0xfe2ce6e0);
    DigestStep<II>(c, d, a, b, X[6], 15, 0xa3014314);
    DigestStep<II>(b, c, d, a, X[13], 21, 0x4e0811a1);
    DigestStep<II>(a, b, c, d, X[4], 6, 0xf7537e82);
    DigestStep<II>(d, a, b, c, X[11], 10, 0xbd3af235);
    DigestStep<II>(c, d, a, b, X[2], 15, 0x2ad7d2bb);
    DigestStep<II>(b, c, d, a, X[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// Whole blocks are transformed where they lie, with the state in a local that the input
// pointer cannot alias, so it stays in registers from one block to the next.
void DigestBlocks(const unsigned char* blocks, std::size_t count) {
    State state = DigestState;
    for (std::size_t i = 0; i < count; ++i) {
        DigestBlock(state, blocks + 64 * i);
    }
    DigestState = state;
}

// Writes the word's bytes, least significant first, as two lower-case digits each.
void WordHex(Word word, char* digits) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (int i = 0; i < 4; ++i) {
        const unsigned byte = (word >> (8 * i)) & 0xff;
        digits[2 * i] = Hex[byte >> 4];
        digits[2 * i + 1] = Hex[byte & 0xf];
    }
}

#undef MD5_INLINE

} // namespace

void DigestReset() {
    DigestByteCount = 0;
    DigestState = ResetState;
}

void DigestFeed(std::size_t count, const char* bytes) {
    if (count == 0) {
        return;
    }
    auto input = reinterpret_cast<const unsigned char*>(bytes);
    const std::size_t waiting = DigestByteCount % 64;
    DigestByteCount += count;

    if (waiting != 0) {
        const std::size_t room = 64 - waiting;
        if (count < room) {
            std::memcpy(DigestBuffer.data() + waiting, input, count);
            return;
        }
        std::memcpy(DigestBuffer.data() + waiting, input, room);
        DigestBlocks(DigestBuffer.data(), 1);
        input += room;
        count -= room;
    }

    const std::size_t wholeBlocks = count / 64;
    DigestBlocks(input, wholeBlocks);
    input += 64 * wholeBlocks;
    count -= 64 * wholeBlocks;
    if (count != 0) {
        std::memcpy(DigestBuffer.data(), input, count);
    }
}

void DigestFinish() {
    static constexpr unsigned char Padding[64] = {0x80};
    const std::uint64_t bits = DigestByteCount * 8;
    const std::size_t waiting = DigestByteCount % 64;
    const std::size_t padding = waiting < 56 ? 56 - waiting : 120 - waiting;
    DigestFeed(padding, reinterpret_cast<const char*>(Padding));

    char length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = char((bits >> (8 * i)) & 0xff);
    }
    DigestFeed(sizeof length, length);
}

QString DigestRender() {
    char digits[32];
    for (int i = 0; i < 4; ++i) {
        WordHex(DigestState[i], digits + 8 * i);
    }
    return QString::fromLatin1(digits, sizeof digits);
}

QString DigestBytes(QByteArrayView bytes) {
    DigestReset();
    DigestFeed(std::size_t(bytes.size()), bytes.data());
    DigestFinish();
    return DigestRender();
}

} // namespace MD5Hash_Module
