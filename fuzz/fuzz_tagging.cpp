// clang-format off
// fuzz-sources: src/relay/Tagging.cpp src/relay/HeaderScan.cpp src/relay/EncodedWords.cpp src/platform/Lines.cpp src/platform/Cp932.cpp
// clang-format on
//
// Any block, any blocked list and any options through the tagging, with the promises the relay
// relies on checked on every run: nothing is lost or changed but the tag on the real Subject
// field, a line added only where it breaks no field, and the log matches what is forwarded.
//
// Input: the first byte chooses Check1 (bits 0-1: 0, 1, 2, or 3 standing for any other number),
// the number of list entries (bits 2-3), the encoded-word option (bit 4), the charset header
// (bit 5) and whether the block was cut at the gathering's bound (bit 6); that many entries
// follow, UTF-8, each ended by LF; the rest is the block.

#include "relay/Tagging.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr QByteArrayView Tag = BlockedTag;
constexpr QByteArrayView InsertedLine = "Subject: [VudOdirOro]";
constexpr QByteArrayView CharsetHeaderStart = "X-Quorlin-Charset: ";
constexpr QByteArrayView WordNoteStart = "Quorlin: tagged for the encoded word ";
constexpr QByteArrayView BoundNoteStart = "Quorlin: the header did not end within the ";

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

// Written apart from the code under test on purpose, so that a shared mistake cannot hide.
QList<QByteArray> Split(const QByteArray& block) {
    QList<QByteArray> pieces{QByteArray()};
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (block[i] == '\r' && i + 1 < block.size() && block[i + 1] == '\n') {
            pieces.append(QByteArray());
            ++i;
        } else {
            pieces.last().append(block[i]);
        }
    }
    return pieces;
}

// The complete lines of split pieces as the log takes them: each followed by CR LF.
QByteArray Logged(const QList<QByteArray>& pieces) {
    QByteArray text;
    for (qsizetype k = 0; k + 1 < pieces.size(); ++k) {
        text += pieces[k] + "\r\n";
    }
    return text;
}

bool Folded(QByteArrayView line) {
    return !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
}

// Length of "name", blanks and the colon at the start of the line, in any letter case; 0 when
// the line is no such field.
qsizetype FieldNameLength(QByteArrayView line, QByteArrayView name) {
    if (!line.toByteArray().toLower().startsWith(name.toByteArray().toLower())) {
        return 0;
    }
    qsizetype at = name.size();
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    return at < line.size() && line[at] == ':' ? at + 1 : 0;
}

// The Subject line as it must look tagged: the tag behind its name as written (one space
// included when there is one), and behind every further occurrence of that name.
QByteArray TagLine(QByteArrayView line) {
    qsizetype length = FieldNameLength(line, "subject");
    if (length < line.size() && line[length] == ' ') {
        ++length;
    }
    const QByteArrayView name = line.first(length);
    QByteArray tagged;
    qsizetype i = 0;
    while (i < line.size()) {
        if (line.sliced(i).startsWith(name)) {
            i += name.size();
            tagged.append(name).append(Tag);
            if (line.sliced(i).startsWith("=?")) {
                tagged.append(' ');
            }
        } else {
            tagged.append(line[i++]);
        }
    }
    return tagged;
}

struct Options {
    int check1;
    bool encodedWords;
    bool charsetHeader;
    bool atBound;
    QStringList list;
};

// The added header names an entry of the list, as typed.
bool IsCharsetHeader(QByteArrayView line, const QStringList& list) {
    if (!line.startsWith(CharsetHeaderStart)) {
        return false;
    }
    const QByteArrayView value = line.sliced(CharsetHeaderStart.size());
    return !value.isEmpty() && list.contains(QString::fromLatin1(value));
}

// The header's lines: from `first` up to its end (an empty line or the terminating "."), and
// where its first Subject field is.
struct Header {
    qsizetype end = 0; // index of the line that ends it, or the number of complete lines
    bool ended = false;
    qsizetype subject = -1; // first line of the first Subject field
    qsizetype subjectLast = -1;
};

Header ReadHeader(const QList<QByteArray>& lines, qsizetype first, qsizetype complete) {
    Header header;
    header.end = complete;
    for (qsizetype k = first; k < complete; ++k) {
        if (lines[k].isEmpty() || lines[k] == ".") {
            header.end = k;
            header.ended = true;
            break;
        }
        if (header.subject >= 0 && header.subjectLast == k - 1 && Folded(lines[k])) {
            header.subjectLast = k;
        }
        if (header.subject < 0 && !Folded(lines[k]) && FieldNameLength(lines[k], "subject") > 0) {
            header.subject = header.subjectLast = k;
        }
    }
    return header;
}

// `out` as `base` with `count` lines put in at `at`, or -1 for at when it is not so.
struct Insertion {
    qsizetype at = -1;
    qsizetype count = 0;
};

Insertion Compare(const QList<QByteArray>& out, const QList<QByteArray>& base) {
    const qsizetype count = out.size() - base.size();
    if (count < 0 || count > 2) {
        return {};
    }
    qsizetype at = 0;
    while (at < base.size() && out[at] == base[at]) {
        ++at;
    }
    if (count == 0) {
        return at == base.size() ? Insertion{at, 0} : Insertion{};
    }
    return out.sliced(at + count) == base.sliced(at) ? Insertion{at, count} : Insertion{};
}

void CheckInspected(const QByteArray& block, const Options& options, const TaggingResult& result) {
    const QList<QByteArray> lines = Split(block);
    const qsizetype complete = lines.size() - 1;
    const qsizetype first = block.startsWith("Return-Path") ? 0 : 1; // behind a status line
    const Header header = ReadHeader(lines, first, complete);
    const bool unendedAtBound = options.atBound && !header.ended;
    bool anyCharset = false;
    for (qsizetype k = first; k < complete; ++k) {
        anyCharset = anyCharset || lines[k].contains("harset");
    }
    const bool anyWord = options.encodedWords && block.contains("=?");
    const QList<QByteArray> out = Split(result.forward);

    QList<QByteArray> tagged = lines;
    if (header.subject >= 0) {
        tagged[header.subject] = TagLine(lines[header.subject]);
    }
    const Insertion plain = Compare(out, lines);
    const Insertion tagging = header.subject >= 0 ? Compare(out, tagged) : Insertion{};

    if (plain.at >= 0 && plain.count == 0) {
        // Untouched.
        Require(result.logLines == Logged(lines) ||
                    (unendedAtBound && result.logLines.startsWith(Logged(lines)) &&
                     result.logLines.sliced(Logged(lines).size()).startsWith(BoundNoteStart)),
                "untouched block logged line by line, with the note at the bound");
        Require(options.check1 != 1 || header.subject >= 0 || complete == first || unendedAtBound,
                "Check1 adds a missing Subject");
        Require(options.check1 != 1 || header.subject < 0 || anyCharset || anyWord ||
                    unendedAtBound,
                "Check1 tags a Subject when nothing declares a charset");
        return;
    }

    if (tagging.at >= 0) {
        Require(options.check1 == 1 || anyCharset || anyWord,
                "a tag without Check1 needs a charset line or an encoded word");
        if (tagging.count > 0) {
            Require(options.charsetHeader && tagging.count == 1, "one header line, when asked for");
            Require(IsCharsetHeader(out[tagging.at], options.list), "the charset header");
            Require(tagging.at == header.subjectLast + 1, "behind the whole Subject field");
        }
        // The log: the tagged lines, a note on the encoded word behind the Subject field.
        QList<QByteArray> logged = Split(Logged(tagged));
        if (result.logLines != Logged(tagged)) {
            Require(options.encodedWords, "a note only for encoded words");
            const qsizetype note = header.subjectLast + 1;
            logged.insert(note, QByteArray());
            const QList<QByteArray> shown = Split(result.logLines);
            Require(shown.size() == logged.size() &&
                        shown.sliced(note + 1) == logged.sliced(note + 1) &&
                        shown.first(note) == logged.first(note) &&
                        shown[note].startsWith(WordNoteStart),
                    "the log shows the tagged line and the note behind its field");
        }
        return;
    }

    Require(plain.at >= 0, "only the tag and added lines change the block");
    Require(options.check1 == 1, "only Check1 adds a Subject line");
    Require(header.subject < 0, "a Subject line is added only to mail without one");
    Require(!unendedAtBound, "no Subject line for a header cut at the bound");
    Require(out[plain.at] == InsertedLine, "the added Subject line");
    Require(plain.count == 1 ||
                (options.charsetHeader && IsCharsetHeader(out[plain.at + 1], options.list)),
            "the charset header behind the added Subject line");
    Require(plain.at > first && plain.at <= header.end, "the line goes into the header");
    Require(plain.at == complete || !Folded(lines[plain.at]), "no field loses its continuation");
    qsizetype field = plain.at - 1;
    while (field > first && Folded(lines[field])) {
        --field;
    }
    Require(field == first || FieldNameLength(lines[field], "to") > 0,
            "behind the first field or a To field");
    Require(result.logLines == Logged(lines), "the added lines are not logged");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr int Check1Values[] = {0, 1, 2, -1};
    const int entryCount = (data[0] / 4) % 4;
    QByteArrayView rest(data + 1, static_cast<qsizetype>(size - 1));
    QStringList list;
    for (int i = 0; i < entryCount; ++i) {
        const qsizetype end = rest.indexOf('\n');
        if (end < 0) {
            break;
        }
        list.append(QString::fromUtf8(rest.first(end)));
        rest = rest.sliced(end + 1);
    }
    const QByteArray block = rest.toByteArray();
    const Options options{Check1Values[data[0] % 4], (data[0] & 0x10) != 0, (data[0] & 0x20) != 0,
                          (data[0] & 0x40) != 0, list};

    // As the window's box gives it: only the tick counts.
    const TaggingRules rules{list, options.check1 == 1, options.encodedWords,
                             options.charsetHeader};
    const TaggingResult result =
        InspectBlock(block, rules, options.atBound ? BlockEnd::AtGatherBound : BlockEnd::Complete);

    const bool afterStatus = block.startsWith("+OK") && [&] {
        const qsizetype end = block.indexOf("\r\n");
        return end >= 0 && block.sliced(end + 2).startsWith("Return-Path");
    }();
    if (list.isEmpty() || !(block.startsWith("Return-Path") || afterStatus)) {
        Require(result.forward == block, "a block not inspected is forwarded as it is");
        Require(result.logLines.isEmpty(), "a block not inspected is not logged");
        return 0;
    }
    CheckInspected(block, options, result);
    return 0;
}
