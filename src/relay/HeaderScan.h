#pragma once

#include <QByteArrayView>
#include <QList>

// The names of the header fields the tagging reads.
inline constexpr QByteArrayView SubjectField = "Subject";
inline constexpr QByteArrayView FromField = "From";
inline constexpr QByteArrayView ToField = "To";

// Where the value of a header field named `name` (in any letter case, RFC 5322) starts in
// `line`: just behind its colon, or -1 when the line is no such field.
qsizetype FieldValueStart(QByteArrayView line, QByteArrayView name);

// A line holding "Charset" or "charset": one that declares a character set, for the tagging.
bool IsCharsetLine(QByteArrayView line);

// A message's lines read in order, as the tagging reads them: where the header ends, which
// lines the fields it looks at span (with their folded continuation lines), the charset line
// that decides, and whether enough has been read for the tagging to be decided, whatever
// follows. It needs no blocked list, so the relay can tell how much of a reply to gather
// before it asks for one.
class HeaderScan {
public:
    // Lines `first` to `last`, counted from the first line read; first is -1 when none.
    struct Span {
        qsizetype first = -1;
        qsizetype last = -1;
        bool Found() const { return first >= 0; }
    };

    HeaderScan() = default;
    // encodedWords: the charsets of encoded words in Subject and From count, so the whole
    // header is needed. charsetHeader: a line goes behind the Subject field, so all of that
    // field is needed.
    HeaderScan(bool encodedWords, bool charsetHeader)
        : encodedWords(encodedWords), charsetHeader(charsetHeader) {}

    // The next line, without its CR LF. Once decided, further lines are not looked at.
    void Line(QByteArrayView line);

    bool Decided() const { return decided; }
    bool HeaderEnded() const { return !inHeader; }
    Span FirstField() const { return firstField; }
    Span Subject() const { return subject; } // the first Subject field
    Span From() const { return from; }       // the first From field
    Span To() const { return to; }           // the last To field, as the inserted Subject wants
    // The charset line that decides: the last one read up to the line by which both a charset
    // line and the Subject field had been read; -1 when none.
    qsizetype CharsetLine() const { return charsetLine; }
    // With encodedWords, every charset line read until the scan was decided, in order: each
    // one counts.
    const QList<qsizetype>& CharsetLines() const { return charsetLines; }

private:
    enum class Open : quint8 { None, Subject, From, To };

    void HeaderLine(QByteArrayView line, qsizetype index);
    Span* OpenSpan();

    bool encodedWords = false;
    bool charsetHeader = false;
    qsizetype read = 0;
    bool inHeader = true;
    bool decided = false;
    bool charsetRuleDone = false;
    qsizetype charsetLine = -1;
    QList<qsizetype> charsetLines;
    Span firstField;
    Span subject;
    Span from;
    Span to;
    // The field the last header line belongs to, which a folded line continues.
    bool firstFieldOpen = false;
    Open open = Open::None;
};
