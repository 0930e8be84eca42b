// fuzz-sources: src/platform/Cp932.cpp
//
// Any bytes through the code page 932 decoding, and the same bytes read as UTF-16 through the
// encoding, on every converter this system has. Checked on every run:
// - a call depends on nothing but its input: converting the two sides of a cut between
//   characters, cut as a reader of the code page cuts them, gives what converting the whole gives;
// - decoding never gives more UTF-16 units than there were bytes; ASCII stays as it is both ways;
// - text decoded without error encodes to bytes that decode back to that text;
// - encoding gives, for each character, "?" or bytes that decode back to that very character;
// - the converters agree with each other.

#include "platform/Cp932.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

bool IsLead(std::uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrail(std::uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// The bytes cut into characters: a lead byte with a trail byte behind it, or one byte.
QList<QByteArrayView> Characters(QByteArrayView bytes) {
    QList<QByteArrayView> characters;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = IsLead(std::uint8_t(bytes[i])) && i + 1 < bytes.size() &&
                                         IsTrail(std::uint8_t(bytes[i + 1]))
                                     ? 2
                                     : 1;
        characters.append(bytes.sliced(i, length));
        i += length;
    }
    return characters;
}

// The text cut into characters: a surrogate pair, or one unit (a lone surrogate included).
QList<QStringView> Characters(QStringView text) {
    QList<QStringView> characters;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2
                                                                                             : 1;
        characters.append(text.sliced(i, length));
        i += length;
    }
    return characters;
}

bool IsAscii(QByteArrayView bytes) {
    for (const char b : bytes) {
        if (std::uint8_t(b) >= 0x80) {
            return false;
        }
    }
    return true;
}

struct Results {
    QString decoded;
    QByteArray encoded;
};

Results CheckDecoding(QByteArrayView bytes) {
    const QString text = Cp932ToText(bytes);
    Require(text.size() <= bytes.size(), "no byte gives more than one UTF-16 unit");
    // Cut where a reader of the code page would: in the middle and at a place the input picks.
    // (Not at every character: under ASan each call into the C library's converter costs memory
    // for good, and a long run must stay within libFuzzer's memory limit.)
    const QList<QByteArrayView> characters = Characters(bytes);
    for (const qsizetype cut :
         {characters.size() / 2,
          bytes.isEmpty() ? 0 : std::uint8_t(bytes.back()) % (characters.size() + 1)}) {
        qsizetype at = 0;
        for (qsizetype i = 0; i < cut; ++i) {
            at += characters[i].size();
        }
        Require(text == Cp932ToText(bytes.first(at)) + Cp932ToText(bytes.sliced(at)),
                "a call depends on its own bytes alone, cut between characters");
    }
    if (IsAscii(bytes)) {
        Require(text == QString::fromLatin1(bytes), "ASCII decodes to itself");
        Require(TextToCp932(text) == bytes, "ASCII encodes to itself");
    }
    if (!text.contains(QChar::ReplacementCharacter)) {
        const QByteArray again = TextToCp932(text);
        Require(Cp932ToText(again) == text, "decoded text survives a round trip");
    }
    return {text, {}};
}

QByteArray CheckEncoding(QStringView text) {
    const QByteArray bytes = TextToCp932(text);
    QByteArray joined;
    QString expectedBack;
    for (const QStringView character : Characters(text)) {
        const QByteArray one = TextToCp932(character);
        joined += one;
        if (one == "?") {
            expectedBack += u'?';
        } else {
            Require(one.size() == 1 || one.size() == 2, "a character is one or two bytes");
            Require(Cp932ToText(one) == character, "an encoded character decodes to itself");
            expectedBack += character;
        }
    }
    Require(bytes == joined, "encoding the whole is encoding character by character");
    Require(Cp932ToText(bytes) == expectedBack,
            "encoded text decodes back, each character itself or \"?\"");
    return bytes;
}

QList<Cp932Backend> availableBackends;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (const Cp932Backend backend : {Cp932Backend::QtIcu, Cp932Backend::Iconv}) {
        if (UseCp932Backend(backend)) {
            availableBackends.append(backend);
        }
    }
    if (availableBackends.isEmpty()) {
        availableBackends.append(Cp932Backend::AsciiOnly);
    }
    std::fprintf(stderr, "code page 932 converters under test: %d\n",
                 int(availableBackends.size()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    // The same bytes as UTF-16 units in the machine's order: any text, lone surrogates too.
    const QString text(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));

    QList<Results> results;
    for (const Cp932Backend backend : availableBackends) {
        UseCp932Backend(backend);
        Results result = CheckDecoding(bytes);
        result.encoded = CheckEncoding(text);
        results.append(result);
    }
    for (const Results& other : results) {
        Require(other.decoded == results.first().decoded, "the converters decode alike");
        Require(other.encoded == results.first().encoded, "the converters encode alike");
    }
    return 0;
}
