#include "platform/Cp932.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QSysInfo>

#include <algorithm>
#include <iconv.h>
#include <memory>
#include <utility>

namespace {

constexpr char16_t Replacement = u'\uFFFD';
constexpr char Unmappable = '?';

// Converts a whole piece and says whether every byte was valid and every character mapped.
// The public functions work out where a failing piece went wrong.
class StrictConverter {
public:
    virtual ~StrictConverter() = default;
    virtual bool Decode(QByteArrayView bytes, QString& text) = 0;
    virtual bool Encode(QStringView text, QByteArray& bytes) = 0;
};

// Qt keeps counting invalid input across calls, resetState() included; each piece needs its own
// count to tell whether it was clean.
class CountingDecoder : public QStringDecoder {
public:
    using QStringDecoder::QStringDecoder;
    void Restart() {
        resetState();
        state.invalidChars = 0;
    }
};

class CountingEncoder : public QStringEncoder {
public:
    using QStringEncoder::QStringEncoder;
    void Restart() {
        resetState();
        state.invalidChars = 0;
    }
};

// ICU's code page 932 follows IBM in three control codes where Windows keeps ASCII: it reads
// 0x1A as U+001C, 0x1C as U+007F and 0x7F as U+001A. No other byte gives or takes these
// characters, so swapping them back after decoding and before encoding is exact.
char16_t WindowsControl(char16_t icu) {
    switch (icu) {
    case 0x1C:
        return 0x1A;
    case 0x7F:
        return 0x1C;
    case 0x1A:
        return 0x7F;
    default:
        return icu;
    }
}

char16_t IcuControl(char16_t windows) {
    switch (windows) {
    case 0x1A:
        return 0x1C;
    case 0x1C:
        return 0x7F;
    case 0x7F:
        return 0x1A;
    default:
        return windows;
    }
}

bool IsSwappedControl(QChar c) {
    return c == u'\x1a' || c == u'\x1c' || c == u'\x7f';
}

// ICU substitutes U+001A and 0xFC 0xFC for what it cannot convert, which cannot be told apart
// from real input afterwards; only the error count says that something went wrong.
class QtIcuConverter : public StrictConverter {
public:
    QtIcuConverter()
        : decoder("CP932", QStringConverter::Flag::Stateless),
          encoder("CP932", QStringConverter::Flag::Stateless) {}

    bool IsValid() const { return decoder.isValid() && encoder.isValid(); }

    bool Decode(QByteArrayView bytes, QString& text) override {
        decoder.Restart();
        text = decoder.decode(bytes);
        if (std::any_of(text.cbegin(), text.cend(), IsSwappedControl)) {
            for (QChar& c : text) {
                c = QChar(WindowsControl(c.unicode()));
            }
        }
        return !decoder.hasError();
    }

    bool Encode(QStringView text, QByteArray& bytes) override {
        encoder.Restart();
        if (std::any_of(text.begin(), text.end(), IsSwappedControl)) {
            QString forIcu = text.toString();
            for (QChar& c : forIcu) {
                c = QChar(IcuControl(c.unicode()));
            }
            bytes = encoder.encode(forIcu);
        } else {
            bytes = encoder.encode(text);
        }
        return !encoder.hasError();
    }

private:
    CountingDecoder decoder;
    CountingEncoder encoder;
};

const char* NativeUtf16Name() {
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
}

class IconvConverter : public StrictConverter {
public:
    IconvConverter()
        : toText(iconv_open(NativeUtf16Name(), "CP932")),
          toBytes(iconv_open("CP932", NativeUtf16Name())) {}
    ~IconvConverter() override {
        if (toText != Invalid()) {
            iconv_close(toText);
        }
        if (toBytes != Invalid()) {
            iconv_close(toBytes);
        }
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool IsValid() const { return toText != Invalid() && toBytes != Invalid(); }

    bool Decode(QByteArrayView bytes, QString& text) override {
        // A byte or a byte pair never gives more than one UTF-16 unit.
        text.resize(bytes.size());
        const size_t left = Run(toText, bytes.data(), bytes.size(),
                                reinterpret_cast<char*>(text.data()), size_t(text.size()) * 2);
        text.resize(text.size() - qsizetype(left / 2));
        return ok;
    }

    bool Encode(QStringView text, QByteArray& bytes) override {
        bytes.resize(text.size() * 2);
        const size_t left = Run(toBytes, reinterpret_cast<const char*>(text.data()),
                                size_t(text.size()) * 2, bytes.data(), size_t(bytes.size()));
        bytes.resize(bytes.size() - qsizetype(left));
        return ok;
    }

private:
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

    // Converts all of the input in one go from a fresh state; returns the unused output space
    // and sets ok to whether nothing was invalid, unmapped or cut short.
    size_t Run(iconv_t converter, const char* input, size_t inputSize, char* output,
               size_t outputSize) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input);
        size_t inLeft = inputSize;
        size_t outLeft = outputSize;
        const size_t result = iconv(converter, &in, &inLeft, &output, &outLeft);
        ok = result == 0 && inLeft == 0;
        return outLeft;
    }

    iconv_t toText;
    iconv_t toBytes;
    bool ok = false;
};

class AsciiOnlyConverter : public StrictConverter {
public:
    bool Decode(QByteArrayView bytes, QString& text) override {
        text = QString::fromLatin1(bytes);
        return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    }
    bool Encode(QStringView text, QByteArray& bytes) override {
        bytes = text.toLatin1();
        return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    }
};

bool IsAvailable(Cp932Backend backend) {
    switch (backend) {
    case Cp932Backend::QtIcu:
        return QtIcuConverter().IsValid();
    case Cp932Backend::Iconv:
        return IconvConverter().IsValid();
    case Cp932Backend::AsciiOnly:
        return true;
    }
    return false;
}

Cp932Backend& SelectedBackend() {
    static Cp932Backend selected = IsAvailable(Cp932Backend::QtIcu)   ? Cp932Backend::QtIcu
                                   : IsAvailable(Cp932Backend::Iconv) ? Cp932Backend::Iconv
                                                                      : Cp932Backend::AsciiOnly;
    return selected;
}

// Converters keep state between the calls of one piece, so each thread has its own; they are
// made once, as the log display converts every line it shows.
StrictConverter& Converter() {
    thread_local std::unique_ptr<QtIcuConverter> qtIcu;
    thread_local std::unique_ptr<IconvConverter> iconvBased;
    thread_local AsciiOnlyConverter asciiOnly;
    switch (SelectedBackend()) {
    case Cp932Backend::QtIcu:
        if (!qtIcu) {
            qtIcu = std::make_unique<QtIcuConverter>();
        }
        return *qtIcu;
    case Cp932Backend::Iconv:
        if (!iconvBased) {
            iconvBased = std::make_unique<IconvConverter>();
        }
        return *iconvBased;
    case Cp932Backend::AsciiOnly:
        break;
    }
    return asciiOnly;
}

bool IsLeadByte(uchar b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(uchar b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Where each character of the code page starts, as a reader of it would split the bytes: a lead
// byte with a trail byte behind it makes one character, every other byte one of its own. The
// last element is the end of the input.
QList<qsizetype> CharacterStarts(QByteArrayView bytes) {
    QList<qsizetype> starts;
    starts.reserve(bytes.size() + 1);
    qsizetype i = 0;
    while (i < bytes.size()) {
        starts.append(i);
        const bool pair =
            IsLeadByte(uchar(bytes[i])) && i + 1 < bytes.size() && IsTrailByte(uchar(bytes[i + 1]));
        i += pair ? 2 : 1;
    }
    starts.append(bytes.size());
    return starts;
}

// Where each character of the text starts: a surrogate pair is one character.
QList<qsizetype> CharacterStarts(QStringView text) {
    QList<qsizetype> starts;
    starts.reserve(text.size() + 1);
    qsizetype i = 0;
    while (i < text.size()) {
        starts.append(i);
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        i += pair ? 2 : 1;
    }
    starts.append(text.size());
    return starts;
}

// Converts characters first to last (exclusive) of input, which failed as a whole, by halving
// until the failing characters stand alone; a long text with a few bad spots so costs little more
// than a clean one.
template <typename Input, typename Output, typename Convert, typename ConvertFailed>
void ConvertAroundFailures(Input input, const QList<qsizetype>& starts, qsizetype first,
                           qsizetype last, Output& output, const Convert& convert,
                           const ConvertFailed& convertFailed) {
    const auto slice = [&](qsizetype from, qsizetype to) {
        return input.sliced(starts[from], starts[to] - starts[from]);
    };
    if (last - first < 1) {
        return;
    }
    if (last - first == 1) {
        convertFailed(slice(first, last), output);
        return;
    }
    const qsizetype middle = first + (last - first) / 2;
    for (const auto& [from, to] : {std::pair(first, middle), std::pair(middle, last)}) {
        Output piece;
        if (convert(slice(from, to), piece)) {
            output += piece;
        } else {
            ConvertAroundFailures(input, starts, from, to, output, convert, convertFailed);
        }
    }
}

// Only a character that decodes back to itself counts as mapped: the C library writes
// look-alikes for some characters the code page lacks (U+00A5 as "\").
bool EncodeMapped(StrictConverter& converter, QStringView text, QByteArray& bytes) {
    QString back;
    return converter.Encode(text, bytes) && converter.Decode(bytes, back) && back == text;
}

} // namespace

QString Cp932ToText(QByteArrayView bytes) {
    StrictConverter& converter = Converter();
    QString text;
    if (converter.Decode(bytes, text)) {
        return text;
    }
    text.clear();
    text.reserve(bytes.size());
    const QList<qsizetype> starts = CharacterStarts(bytes);
    const auto decode = [&converter](QByteArrayView piece, QString& out) {
        return converter.Decode(piece, out);
    };
    const auto decodeFailed = [&converter](QByteArrayView character, QString& out) {
        out += Replacement;
        // A pair that is no character gives its trail byte back when that is ASCII, as browsers
        // do: it is more likely a character of its own than the half of a broken one.
        QString trail;
        if (character.size() == 2 && uchar(character[1]) < 0x80 &&
            converter.Decode(character.sliced(1), trail)) {
            out += trail;
        }
    };
    ConvertAroundFailures(bytes, starts, 0, starts.size() - 1, text, decode, decodeFailed);
    return text;
}

QByteArray TextToCp932(QStringView text) {
    StrictConverter& converter = Converter();
    QByteArray bytes;
    if (EncodeMapped(converter, text, bytes)) {
        return bytes;
    }
    bytes.clear();
    bytes.reserve(text.size() * 2);
    const QList<qsizetype> starts = CharacterStarts(text);
    const auto encode = [&converter](QStringView piece, QByteArray& out) {
        return EncodeMapped(converter, piece, out);
    };
    const auto encodeFailed = [](QStringView, QByteArray& out) { out += Unmappable; };
    ConvertAroundFailures(text, starts, 0, starts.size() - 1, bytes, encode, encodeFailed);
    return bytes;
}

qsizetype Cp932PrefixLength(QByteArrayView bytes, qsizetype limit) {
    if (bytes.size() <= limit) {
        return bytes.size();
    }
    // A trail byte may look like ASCII, so characters are only found walking from the start.
    qsizetype end = 0;
    while (end < bytes.size()) {
        const bool pair = IsLeadByte(uchar(bytes[end])) && end + 1 < bytes.size() &&
                          IsTrailByte(uchar(bytes[end + 1]));
        const qsizetype next = end + (pair ? 2 : 1);
        if (next > limit) {
            break;
        }
        end = next;
    }
    return end;
}

Cp932Backend ActiveCp932Backend() {
    return SelectedBackend();
}

bool UseCp932Backend(Cp932Backend backend) {
    if (!IsAvailable(backend)) {
        return false;
    }
    SelectedBackend() = backend;
    return true;
}
