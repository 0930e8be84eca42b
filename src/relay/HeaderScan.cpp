#include "relay/HeaderScan.h"

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

qsizetype FieldValueStart(QByteArrayView line, QByteArrayView name) {
    if (line.size() <= name.size() ||
        line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0) {
        return -1;
    }
    // RFC 5322's obsolete syntax allows blanks before the colon, and mail programs read it.
    qsizetype at = name.size();
    while (at < line.size() && IsBlank(line[at])) {
        ++at;
    }
    return at < line.size() && line[at] == ':' ? at + 1 : -1;
}

bool IsCharsetLine(QByteArrayView line) {
    return line.contains("Charset") || line.contains("charset");
}

void HeaderScan::Line(QByteArrayView line) {
    if (decided) {
        return;
    }
    const qsizetype index = read++;
    // Charset lines count wherever they are (MIME part headers too), up to the line by which
    // the Subject field has been read as well: the last one read by then decides.
    const bool charsetLineHere = IsCharsetLine(line);
    if (!charsetRuleDone && charsetLineHere) {
        charsetLine = index;
    }
    if (encodedWords && charsetLineHere) {
        charsetLines.append(index);
    }
    if (inHeader) {
        HeaderLine(line, index);
    }
    charsetRuleDone = charsetRuleDone || (charsetLine >= 0 && subject.Found());

    const bool subjectOpen = inHeader && open == Open::Subject;
    decided = (!inHeader && !subject.Found()) ||
              (charsetRuleDone && (!encodedWords || !inHeader) && (!charsetHeader || !subjectOpen));
}

void HeaderScan::HeaderLine(QByteArrayView line, qsizetype index) {
    // The header ends at its empty line, or with the message where it has none.
    if (line.isEmpty() || line == ".") {
        inHeader = false;
        firstFieldOpen = false;
        open = Open::None;
        return;
    }
    if (IsBlank(line[0])) {
        if (firstFieldOpen) {
            firstField.last = index;
        }
        if (Span* span = OpenSpan()) {
            span->last = index;
        }
        return;
    }
    firstFieldOpen = !firstField.Found();
    if (firstFieldOpen) {
        firstField = {index, index};
    }
    open = Open::None;
    if (!subject.Found() && FieldValueStart(line, SubjectField) >= 0) {
        open = Open::Subject;
    } else if (!from.Found() && FieldValueStart(line, FromField) >= 0) {
        open = Open::From;
    } else if (FieldValueStart(line, ToField) >= 0) {
        open = Open::To;
    }
    if (Span* span = OpenSpan()) {
        *span = {index, index};
    }
}

HeaderScan::Span* HeaderScan::OpenSpan() {
    switch (open) {
    case Open::Subject:
        return &subject;
    case Open::From:
        return &from;
    case Open::To:
        return &to;
    case Open::None:
        break;
    }
    return nullptr;
}
