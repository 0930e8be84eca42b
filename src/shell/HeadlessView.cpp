#include "shell/HeadlessView.h"

#include "platform/Cp932.h"

#include <QTextStream>

#include <algorithm>
#include <unistd.h>

HeadlessView::HeadlessView(std::FILE* logOutput) : output(logOutput) {}

void HeadlessView::List1AddItems(const QList<QByteArray>& lines) {
    WriteLines("S: ", lines);
}

void HeadlessView::List2AddItems(const QList<QByteArray>& lines) {
    WriteLines("C: ", lines);
}

void HeadlessView::WriteLines(const char* prefix, const QList<QByteArray>& lines) {
    for (const QByteArray& line : lines) {
        std::fputs(prefix, output);
        const bool plainAscii =
            std::all_of(line.cbegin(), line.cend(), [](char c) { return (c & 0x80) == 0; });
        if (plainAscii) {
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), output);
        } else {
            // Shown to a person: the wire's code page becomes the terminal's encoding.
            const QByteArray shown = Cp932ToText(line).toLocal8Bit();
            std::fwrite(shown.constData(), 1, static_cast<size_t>(shown.size()), output);
        }
        std::fputc('\n', output);
    }
    std::fflush(output);
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
    out << "[" << title << "] " << QString(prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        << "\n> ";
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
