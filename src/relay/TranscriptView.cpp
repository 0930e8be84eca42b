#include "relay/TranscriptView.h"

#include "platform/LogTimestamp.h"

#include <QDateTime>

TranscriptView::TranscriptView(RelayView& shown, QObject* parent) : QObject(parent), view(shown) {}

TranscriptView::~TranscriptView() = default;

void TranscriptView::UseFile(const QString& path, const LogRotation& limits) {
    if (path == FilePath() && limits.maxBytes == rotation.maxBytes &&
        limits.keptFiles == rotation.keptFiles) {
        return;
    }
    file.reset();
    rotation = limits;
    if (path.isEmpty()) {
        return;
    }
    file = std::make_unique<LogFile>(path, rotation);
    connect(file.get(), &LogFile::Failed, this, &TranscriptView::Failed);
}

void TranscriptView::AddNote(const QString& text) {
    Write({}, ("quorlin: " + text + "\r\n").toLocal8Bit());
}

void TranscriptView::AddServerLines(QByteArrayView lines) {
    view.AddServerLines(lines);
    Write("S: ", lines);
}

void TranscriptView::AddClientLines(QByteArrayView lines) {
    view.AddClientLines(lines);
    Write("C: ", lines);
}

void TranscriptView::Write(QByteArrayView prefix, QByteArrayView lines) {
    if (file && !lines.isEmpty()) {
        const QByteArray stamp = LogTimestamp(QDateTime::currentDateTime()) + ' ';
        file->Append(text.Lines(stamp, prefix, lines));
    }
}
