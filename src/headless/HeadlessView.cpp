#include "headless/HeadlessView.h"

#include <QTextStream>

#include <unistd.h>

HeadlessView::HeadlessView(int logDescriptor) : output(logDescriptor) {}

void HeadlessView::AddServerLines(QByteArrayView lines) {
    WriteLogLines("S: ", lines);
}

void HeadlessView::AddClientLines(QByteArrayView lines) {
    WriteLogLines("C: ", lines);
}

void HeadlessView::WriteLogLines(QByteArrayView prefix, QByteArrayView lines) {
    output.Append(text.Lines({}, prefix, lines));
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

void HeadlessView::ReportUnusableSettings(const QString& path,
                                          const QList<UnusableSetting>& settings) {
    QTextStream(stderr) << "quorlin: " << UnusableSettingsReport(path, settings) << "\n";
}
