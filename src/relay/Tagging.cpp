#include "relay/Tagging.h"

#include "platform/Cp932.h"
#include "platform/Lines.h"
#include "relay/EncodedWords.h"
#include "relay/HeaderScan.h"

#include <QByteArrayView>
#include <QString>

#include <utility>

namespace {
constexpr QByteArrayView HeaderStart = "Return-Path";
constexpr QByteArrayView StatusStart = "+OK";
constexpr QByteArrayView CharsetHeaderName = "X-Quorlin-Charset: ";
constexpr QByteArrayView Tag = BlockedTag;

// Lines of Quorlin's own in the server log, each a whole line.
QByteArray UnendedHeaderNote(qsizetype gathered) {
    return "Quorlin: the header did not end within the " + QByteArray::number(gathered) +
           " bytes gathered; the message is relayed untagged.\r\n";
}
QByteArray EncodedWordNote(QByteArrayView word, QByteArrayView field) {
    return "Quorlin: tagged for the encoded word " + word.toByteArray() + " in " +
           field.toByteArray() + ".\r\n";
}

TaggingResult Unchanged(const QByteArray& block) {
    return {QByteArray(), block};
}

// The entry of the list found in `text`, or -1; one that can name the charset in a header wins
// over an empty one, which is found in everything.
// The user types list entries; the text is wire bytes in code page 932. Both sides go through
// Unicode so that the comparison sees characters, not bytes (a trail byte of a double-byte
// character can look like an ASCII letter), and QString::toUpper uses the Unicode tables rather
// than the C locale, so the result is the same on every machine and full-width letters an
// input method produced compare as well.
qsizetype ListedEntry(QByteArrayView text, const QStringList& blockedList) {
    const QString upper = Cp932ToText(text).toUpper();
    qsizetype empty = -1;
    for (qsizetype i = 0; i < blockedList.size(); ++i) {
        if (blockedList[i].isEmpty()) {
            empty = empty < 0 ? i : empty;
        } else if (upper.contains(blockedList[i].toUpper())) {
            return i;
        }
    }
    return empty;
}

// With the encoded words, any charset line counts: the first whose entry names a charset, else
// the first that an empty entry finds.
qsizetype ListedCharsetLine(const QList<QByteArray>& pieces, const QList<qsizetype>& lines,
                            const QStringList& blockedList) {
    qsizetype found = -1;
    for (const qsizetype line : lines) {
        const qsizetype entry = ListedEntry(pieces[line], blockedList);
        if (entry >= 0 && !blockedList[entry].isEmpty()) {
            return entry;
        }
        found = found < 0 ? entry : found;
    }
    return found;
}

// The first encoded word of the Subject and From fields (in that order) whose charset is listed.
struct WordMatch {
    bool anyWord = false; // Subject or From holds an encoded word at all
    qsizetype entry = -1;
    QByteArray word;
    QByteArrayView field;
};

WordMatch ListedEncodedWord(const QList<QByteArray>& pieces, const HeaderScan& scan,
                            const QStringList& blockedList) {
    WordMatch match;
    const std::pair<HeaderScan::Span, QByteArrayView> fields[] = {{scan.Subject(), SubjectField},
                                                                  {scan.From(), FromField}};
    for (const auto& [span, name] : fields) {
        for (qsizetype k = span.first; span.Found() && k <= span.last; ++k) {
            for (const EncodedWord& word : EncodedWordsIn(pieces[k])) {
                match.anyWord = true;
                match.entry = ListedEntry(word.charset, blockedList);
                if (match.entry >= 0) {
                    match.word = word.word.toByteArray();
                    match.field = name;
                    return match;
                }
            }
        }
    }
    return match;
}

// "X-Quorlin-Charset:" naming the entry that matched, or nothing when the option is off, the
// tag has no charset behind it, or the entry is no plain ASCII word that a header can carry.
QByteArray CharsetHeaderLine(const TaggingRules& rules, qsizetype entry) {
    if (!rules.charsetHeader || entry < 0 || rules.blockedCharsets[entry].isEmpty()) {
        return {};
    }
    const QString& name = rules.blockedCharsets[entry];
    for (const QChar c : name) {
        if (c.unicode() <= ' ' || c.unicode() >= 0x7f) {
            return {};
        }
    }
    QByteArray line;
    line.append(CharsetHeaderName).append(name.toLatin1()).append(CrLf);
    return line;
}

// Puts the tag behind the field name of the Subject line (its colon and the one space behind
// it), and behind every further occurrence of the name as written there, as the tagging always
// did. An encoded word right behind keeps one space between itself and the tag, since RFC 2047
// wants it apart from adjacent text and many clients show it raw otherwise.
QByteArray TagSubjectLine(QByteArrayView line) {
    qsizetype nameEnd = FieldValueStart(line, SubjectField);
    if (nameEnd < line.size() && line[nameEnd] == ' ') {
        ++nameEnd;
    }
    const QByteArrayView name = line.first(nameEnd);
    QByteArray tagged;
    tagged.reserve(line.size() + 2 * (Tag.size() + 1));
    qsizetype copied = 0;
    for (qsizetype at = 0; at >= 0; at = line.indexOf(name, copied)) {
        const qsizetype behind = at + name.size();
        tagged.append(line.sliced(copied, behind - copied));
        tagged.append(Tag);
        if (line.sliced(behind).startsWith(EncodedWordStart)) {
            tagged.append(' ');
        }
        copied = behind;
    }
    tagged.append(line.sliced(copied));
    return tagged;
}

// Byte offset just behind the CR LF that ends complete line `index` of the pieces.
qsizetype EndOfLine(const QList<QByteArray>& pieces, qsizetype index) {
    qsizetype offset = 0;
    for (qsizetype k = 0; k <= index; ++k) {
        offset += pieces[k].size() + CrLf.size();
    }
    return offset;
}

// The pieces joined back, with whole lines put in right behind complete line `after`.
QByteArray Joined(const QList<QByteArray>& pieces, qsizetype after, QByteArrayView lines) {
    QByteArray joined = JoinPieces(pieces);
    if (!lines.isEmpty()) {
        joined.insert(EndOfLine(pieces, after), lines);
    }
    return joined;
}

// The complete lines of text, shared rather than copied when text ends with its last line.
QByteArray LoggedLines(const QByteArray& text) {
    const qsizetype size = CompleteLinesText(text).size();
    return size == text.size() ? text : text.first(size);
}

// A header block, starting with "Return-Path", against a non-empty list; `gathered` is the
// size of the whole block, a status line before the header included.
TaggingResult InspectHeader(const QByteArray& header, const TaggingRules& rules, BlockEnd end,
                            qsizetype gathered) {
    QList<QByteArray> pieces = SplitPieces(header);
    const qsizetype lineCount = pieces.size() - 1; // the trailing piece is not scanned
    HeaderScan scan(rules.encodedWords, rules.charsetHeader);
    for (qsizetype k = 0; k < lineCount && !scan.Decided(); ++k) {
        scan.Line(pieces[k]);
    }
    if (!scan.Decided() && !scan.HeaderEnded() && end == BlockEnd::AtGatherBound) {
        // The Subject field may still come: a tag or a Subject line now could be one too many.
        return {LoggedLines(header) + UnendedHeaderNote(gathered), header};
    }

    const qsizetype charsetLine = scan.CharsetLine();
    qsizetype lineEntry = -1;
    if (rules.encodedWords) {
        lineEntry = ListedCharsetLine(pieces, scan.CharsetLines(), rules.blockedCharsets);
    } else if (charsetLine >= 0) {
        lineEntry = ListedEntry(pieces[charsetLine], rules.blockedCharsets);
    }
    const WordMatch word =
        rules.encodedWords ? ListedEncodedWord(pieces, scan, rules.blockedCharsets) : WordMatch();
    // The unlabelled-mail rule catches mail that declares no charset; an encoded word declares one.
    const bool declared = charsetLine >= 0 || word.anyWord;

    const HeaderScan::Span subject = scan.Subject();
    if (subject.Found()) {
        const bool byWord = lineEntry < 0 && word.entry >= 0;
        if (lineEntry < 0 && !byWord && (!rules.tagUnlabelled || declared)) {
            return {LoggedLines(header), header};
        }
        const QByteArray note = byWord ? EncodedWordNote(word.word, word.field) : QByteArray();
        pieces[subject.first] = TagSubjectLine(pieces[subject.first]);
        const QByteArray added = CharsetHeaderLine(rules, byWord ? word.entry : lineEntry);
        return {LoggedLines(Joined(pieces, subject.last, note)),
                Joined(pieces, subject.last, added)};
    }
    if (rules.tagUnlabelled && lineCount > 0) {
        // Behind the whole To field (or the first field): a line put between a field and its
        // continuation would take the continuation over. Not logged: the log shows what the
        // server sent.
        const HeaderScan::Span behind = scan.To().Found() ? scan.To() : scan.FirstField();
        QByteArray added;
        added.append("Subject: ").append(Tag).append(CrLf);
        added.append(CharsetHeaderLine(rules, lineEntry >= 0 ? lineEntry : word.entry));
        return {LoggedLines(header), Joined(pieces, behind.last, added)};
    }
    return {LoggedLines(header), header};
}
} // namespace

qsizetype HeaderOffset(QByteArrayView start) {
    // `text` can still become `literal` when it is a shorter beginning of it.
    const auto couldBecome = [](QByteArrayView text, QByteArrayView literal) {
        return text.size() < literal.size() && literal.startsWith(text);
    };
    if (start.startsWith(HeaderStart)) {
        return 0;
    }
    if (couldBecome(start, HeaderStart) || couldBecome(start, StatusStart)) {
        return HeaderUnknownYet;
    }
    if (!start.startsWith(StatusStart)) {
        return NoHeader;
    }
    const qsizetype statusEnd = start.indexOf(CrLf);
    if (statusEnd < 0) {
        return HeaderUnknownYet;
    }
    const QByteArrayView behind = start.sliced(statusEnd + CrLf.size());
    if (behind.startsWith(HeaderStart)) {
        return statusEnd + CrLf.size();
    }
    return couldBecome(behind, HeaderStart) ? HeaderUnknownYet : NoHeader;
}

TaggingResult InspectBlock(const QByteArray& block, const TaggingRules& rules, BlockEnd end) {
    // Most blocks of a reply are body text and leave here after a few bytes.
    if (rules.blockedCharsets.isEmpty()) {
        return Unchanged(block);
    }
    if (block.startsWith(HeaderStart)) {
        return InspectHeader(block, rules, end, block.size());
    }

    // Many servers write the status line and the message in one go; the header behind the
    // status line is inspected as if it had come in a block of its own.
    if (!block.startsWith(StatusStart)) {
        return Unchanged(block);
    }
    const qsizetype statusEnd = block.indexOf(CrLf);
    if (statusEnd < 0 || !QByteArrayView(block).sliced(statusEnd + 2).startsWith(HeaderStart)) {
        return Unchanged(block);
    }
    TaggingResult result = InspectHeader(block.sliced(statusEnd + 2), rules, end, block.size());
    result.logLines.prepend(QByteArrayView(block).first(statusEnd + 2));
    result.forward.prepend(QByteArrayView(block).first(statusEnd + 2));
    return result;
}
