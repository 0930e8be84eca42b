// fuzz-sources: src/relay/Tagging.cpp src/relay/Pieces.cpp src/platform/Cp932.cpp
//
// Any block, any blocked list, any Check1 through the tagging, with the promises the relay
// relies on checked on every run: nothing is lost or changed but the tag, and the log matches
// what is forwarded.
//
// Input: the first byte chooses Check1 (its value modulo 4: 0, 1, 2, or 3 standing for any other
// number) and the number of list entries ((value / 4) modulo 4); that many entries follow, UTF-8,
// each ended by LF; the rest is the block.

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

bool HasSubject(QByteArrayView line) {
    return line.contains("Subject: ") || line.contains("subject: ");
}

bool HasCharset(QByteArrayView line) {
    return line.contains("Charset") || line.contains("charset");
}

bool IsToLine(QByteArrayView line) {
    const qsizetype sum = (line.indexOf("to: ") + 1) + (line.indexOf("To: ") + 1);
    return sum == 1 || sum == 2;
}

// The line as it must look with the tag put in.
QByteArray TagLine(QByteArrayView line) {
    const QByteArrayView name = line.contains("Subject: ") ? "Subject: " : "subject: ";
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

// Removing the tag is ambiguous once the encoded-word space comes in ("Subject:  =?" and
// "Subject: =?" tag alike), so the changed line is compared with the block's line tagged.
void CheckInspected(const QByteArray& block, int check1, const TaggingResult& result) {
    const QList<QByteArray> lines = Split(block);
    const qsizetype trailing = lines.size() - 1;
    const qsizetype first = block.startsWith("Return-Path") ? 0 : 1; // behind a status line
    bool anySubject = false;
    bool anyCharset = false;
    for (qsizetype k = first; k < trailing; ++k) {
        anySubject = anySubject || HasSubject(lines[k]);
        anyCharset = anyCharset || HasCharset(lines[k]);
    }

    if (result.forward == block) {
        Require(result.logLines == Logged(lines), "untouched block logged line by line");
        Require(check1 != 1 || anyCharset || !anySubject,
                "Check1 tags a subject line when there is no charset line");
        Require(check1 != 1 || anySubject || trailing == first, "Check1 adds a missing subject");
        return;
    }

    const QList<QByteArray> out = Split(result.forward);
    if (out.size() == lines.size()) {
        qsizetype changed = -1;
        for (qsizetype k = 0; k < lines.size(); ++k) {
            if (out[k] != lines[k]) {
                Require(changed < 0, "only one line changes");
                changed = k;
            }
        }
        Require(changed >= first && changed < trailing, "the changed line is a header line");
        Require(HasSubject(lines[changed]), "the changed line is a subject line");
        Require(out[changed] == TagLine(lines[changed]), "the change is the tag alone");
        Require(check1 == 1 || anyCharset, "a tag without Check1 needs a charset line");
        Require(result.logLines == Logged(out), "the log shows the tagged line");
        return;
    }

    Require(out.size() == lines.size() + 1, "at most one line is added");
    Require(check1 == 1, "only Check1 adds a line");
    Require(!anySubject, "a line is added only to mail without a subject");
    Require(result.logLines == Logged(lines), "the added line is not logged");
    bool found = false;
    for (qsizetype at = first + 1; at <= trailing && !found; ++at) {
        found = out[at] == InsertedLine && out.first(at) == lines.first(at) &&
                out.sliced(at + 1) == lines.sliced(at) &&
                (at - 1 == first || IsToLine(lines[at - 1]));
    }
    Require(found, "the added line follows the first line or a To line, and nothing else moves");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr int Check1Values[] = {0, 1, 2, -1};
    const int check1 = Check1Values[data[0] % 4];
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

    const TaggingResult result = InspectBlock(block, list, check1);

    const bool afterStatus = block.startsWith("+OK") && [&] {
        const qsizetype end = block.indexOf("\r\n");
        return end >= 0 && block.sliced(end + 2).startsWith("Return-Path");
    }();
    if (list.isEmpty() || !(block.startsWith("Return-Path") || afterStatus)) {
        Require(result.forward == block, "a block not inspected is forwarded as it is");
        Require(result.logLines.isEmpty(), "a block not inspected is not logged");
        return 0;
    }
    CheckInspected(block, check1, result);
    return 0;
}
