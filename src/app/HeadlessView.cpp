#include "app/HeadlessView.h"

#include "platform/Cp932.h"
#include "relay/Pieces.h"

#include <QTextStream>

#include <cstring>
#include <unistd.h>

HeadlessView::HeadlessView(int logDescriptor) : output(logDescriptor) {}

void HeadlessView::List1AddLines(QByteArrayView lines) {
    WriteLogLines("S: ", lines);
}

void HeadlessView::List2AddLines(QByteArrayView lines) {
    WriteLogLines("C: ", lines);
}

namespace {

// Eight bytes at a time: this runs over every logged block, and most of them are plain ASCII.
bool IsPlainAscii(QByteArrayView bytes) {
    const char* scan = bytes.data();
    qsizetype left = bytes.size();
    quint64 seen = 0;
    for (; left >= 8; scan += 8, left -= 8) {
        quint64 word;
        std::memcpy(&word, scan, sizeof word);
        seen |= word;
    }
    for (; left > 0; ++scan, --left) {
        seen |= static_cast<unsigned char>(*scan);
    }
    return (seen & 0x8080808080808080ULL) == 0;
}

} // namespace

// A block's lines go out together: a huge UIDL or TOP reply must not cost a system call per
// line.
void HeadlessView::WriteLogLines(QByteArrayView prefix, QByteArrayView lines) {
    QByteArray shown;
    if (IsPlainAscii(lines)) {
        // Each line of at least two bytes ("\r\n") grows by the prefix less one byte at most.
        shown.resize(lines.size() + (lines.size() / 2 + 1) * prefix.size());
        char* out = shown.data();
        ForEachLine(lines, [&out, prefix](QByteArrayView line) {
            std::memcpy(out, prefix.data(), static_cast<size_t>(prefix.size()));
            out += prefix.size();
            std::memcpy(out, line.data(), static_cast<size_t>(line.size()));
            out += line.size();
            *out++ = '\n';
        });
        shown.truncate(out - shown.constData());
    } else {
        ForEachLine(lines, [&shown, prefix](QByteArrayView line) {
            shown.append(prefix);
            // Shown to a person: the wire's code page becomes the terminal's encoding.
            shown.append(IsPlainAscii(line) ? line.toByteArray() : Cp932ToText(line).toLocal8Bit());
            shown.append('\n');
        });
    }
    output.Append(shown);
}

bool HeadlessView::CanAsk() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<QString> HeadlessView::InputBox(const QString& prompt, const QString& title,
                                              const QString& defaultAnswer) {
    if (!CanAsk()) {
        return std::nullopt;
    }
    QTextStream out(stderr);
    out << "[" << title << "] "
        << QString(prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) << "\n> ";
    out.flush();
    QTextStream in(stdin);
    QString answer;
    if (!in.readLineInto(&answer)) {
        return std::nullopt;
    }
    return answer.isEmpty() ? defaultAnswer : answer;
}

void HeadlessView::ReportFileError(const QString& message) {
    QTextStream(stderr) << "quorlin: " << message << "\n";
}
