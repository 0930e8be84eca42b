#include "relay/Tagging.h"

#include "platform/Cp932.h"
#include "relay/Pieces.h"

#include <QByteArrayView>
#include <QString>

namespace {
constexpr QByteArrayView HeaderStart = "Return-Path";
constexpr QByteArrayView StatusStart = "+OK";
constexpr QByteArrayView SubjectName = "Subject: ";
constexpr QByteArrayView LowerSubjectName = "subject: ";
constexpr QByteArrayView EncodedWordStart = "=?";
constexpr QByteArrayView Tag = BlockedTag;

TaggingResult Unchanged(const QByteArray& block) {
    return {QByteArray(), block};
}

// "To: " or "to: " at the first or second character and no occurrence of the other form: the
// 1-based positions of the first of each add up to 1 or 2. Keeps out "Reply-To: " and a line
// that holds both forms.
bool IsToLine(QByteArrayView piece) {
    const qsizetype sum = (piece.indexOf("to: ") + 1) + (piece.indexOf("To: ") + 1);
    return sum > 0 && sum < 3;
}

// The user types list entries; the line is wire bytes in code page 932. Both sides go through
// Unicode so that the comparison sees characters, not bytes (a trail byte of a double-byte
// character can look like an ASCII letter), and QString::toUpper uses the Unicode tables rather
// than the C locale, so the result is the same on every machine and full-width letters an
// input method produced compare as well.
bool ListsCharset(QByteArrayView piece, const QStringList& blockedList) {
    const QString line = Cp932ToText(piece).toUpper();
    for (const QString& entry : blockedList) {
        if (line.contains(entry.toUpper())) {
            return true;
        }
    }
    return false;
}

// Puts the tag behind every "Subject: " of the line, or behind every "subject: " when the line
// has only the lower-case form (valid mail that would otherwise slip through untagged). An
// encoded word right behind the name keeps one space between itself and the tag, since
// RFC 2047 wants it apart from adjacent text and many clients show it raw otherwise.
QByteArray TagSubjectLine(QByteArrayView line) {
    const QByteArrayView name = line.contains(SubjectName) ? SubjectName : LowerSubjectName;
    QByteArray tagged;
    tagged.reserve(line.size() + 2 * (Tag.size() + 1));
    qsizetype copied = 0;
    for (qsizetype at = line.indexOf(name); at >= 0; at = line.indexOf(name, copied)) {
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

// The complete lines of text, shared rather than copied when text ends with its last line.
QByteArray LoggedLines(const QByteArray& text) {
    const qsizetype size = CompleteLinesText(text).size();
    return size == text.size() ? text : text.first(size);
}

// A header block, starting with "Return-Path", against a non-empty list.
TaggingResult InspectHeader(const QByteArray& header, const QStringList& blockedList,
                            bool check1Ticked) {
    QList<QByteArray> pieces = SplitPieces(header);
    const qsizetype lineCount = pieces.size() - 1; // the trailing piece is not scanned

    bool charsetSeen = false;
    bool subjectSeen = false;
    bool listed = false;
    qsizetype subjectIndex = -1;
    qsizetype toIndex = 0; // no To line: the new subject line follows the first line
    for (qsizetype k = 0; k < lineCount; ++k) {
        const QByteArray& piece = pieces[k];
        if (IsCharsetLine(piece)) {
            // The last charset line scanned decides.
            charsetSeen = true;
            listed = ListsCharset(piece, blockedList);
        }
        if (IsSubjectLine(piece)) {
            subjectSeen = true;
            subjectIndex = k;
        }
        if (IsToLine(piece)) {
            toIndex = k;
        }
        if (charsetSeen && subjectSeen) {
            break;
        }
    }

    if ((charsetSeen && subjectSeen && listed) || (check1Ticked && !charsetSeen && subjectSeen)) {
        pieces[subjectIndex] = TagSubjectLine(pieces[subjectIndex]);
        QByteArray forward = JoinPieces(pieces);
        return {LoggedLines(forward), forward};
    }
    if (check1Ticked && !subjectSeen && lineCount > 0) {
        // Not a piece of its own: the log shows what the server sent.
        QByteArray line;
        line.append(SubjectName).append(Tag).append(CrLf);
        QByteArray forward = header;
        forward.insert(EndOfLine(pieces, toIndex), line);
        return {LoggedLines(header), forward};
    }
    return {LoggedLines(header), header};
}
} // namespace

bool IsCharsetLine(QByteArrayView line) {
    return line.contains("Charset") || line.contains("charset");
}

bool IsSubjectLine(QByteArrayView line) {
    return line.contains(SubjectName) || line.contains(LowerSubjectName);
}

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

TaggingResult InspectBlock(const QByteArray& block, const QStringList& blockedList, int check1) {
    // Most blocks of a reply are body text and leave here after a few bytes.
    if (blockedList.isEmpty()) {
        return Unchanged(block);
    }
    const bool check1Ticked = check1 == 1;
    if (block.startsWith(HeaderStart)) {
        return InspectHeader(block, blockedList, check1Ticked);
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
    TaggingResult result = InspectHeader(block.sliced(statusEnd + 2), blockedList, check1Ticked);
    result.logLines.prepend(QByteArrayView(block).first(statusEnd + 2));
    result.forward.prepend(QByteArrayView(block).first(statusEnd + 2));
    return result;
}
