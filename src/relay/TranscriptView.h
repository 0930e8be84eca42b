#pragma once

#include "platform/LogFile.h"
#include "platform/LogLineText.h"
#include "relay/RelayView.h"

#include <QObject>
#include <QString>
#include <memory>

// The window, or standard output, and beside it a log file: every line the logs get also goes
// into the file as the headless log shows it, behind its time (ISO 8601, local time), the client
// number included. Everything else passes to the view behind.
class TranscriptView : public QObject, public RelayView {
    Q_OBJECT

public:
    explicit TranscriptView(RelayView& view, QObject* parent = nullptr);
    ~TranscriptView() override;

    // The file from now on; an empty path writes none. The same path and rotation keep the file
    // as it is.
    void UseFile(const QString& path, const LogRotation& rotation);
    QString FilePath() const { return file ? file->Path() : QString(); }
    // A line of Quorlin's own ("quorlin: ..."), for what standard error or the window tells.
    void AddNote(const QString& text);

    void AddServerLines(QByteArrayView lines) override;
    void AddClientLines(QByteArrayView lines) override;
    void ClearServerLog() override { view.ClearServerLog(); }
    void ClearClientLog() override { view.ClearClientLog(); }
    void ShowWindow() override { view.ShowWindow(); }
    void HideWindow() override { view.HideWindow(); }
    void ShowTrayPicture(TrayPicture picture) override { view.ShowTrayPicture(picture); }
    void ConsoleClient(int number) override { view.ConsoleClient(number); }
    void ConsoleServer(const QString& account) override { view.ConsoleServer(account); }

Q_SIGNALS:
    // The file cannot be written: once until it can again. Relaying goes on.
    void Failed(const QString& path, const QString& reason);

private:
    void Write(QByteArrayView prefix, QByteArrayView lines);

    RelayView& view;
    std::unique_ptr<LogFile> file;
    LogRotation rotation;
    LogLineText text;
};
