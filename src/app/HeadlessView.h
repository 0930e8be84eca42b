#pragma once

#include "app/LogOutput.h"
#include "relay/RelayView.h"
#include "settings/SettingsView.h"

#include <unistd.h>

// The window's stand-in when there is none: logs go to standard output as "S: " and "C: "
// lines (never waiting for whoever reads them), the settings live in memory, questions are asked on
// the terminal, and showing, hiding and the tray do nothing.
class HeadlessView : public RelayView, public SettingsView {
public:
    explicit HeadlessView(int logDescriptor = STDOUT_FILENO);

    QString Text1() const override { return host; }
    void SetText1(const QString& text) override { host = text; }

    void List1AddLines(QByteArrayView lines) override;
    void List2AddLines(QByteArrayView lines) override;
    void List1Clear() override {}
    void List2Clear() override {}

    QStringList List3Items() const override { return blocked; }
    void List3AddItem(const QString& entry) override { blocked.append(entry); }
    void List3RemoveItem(int index) override { blocked.removeAt(index); }
    int List3FirstSelected() const override { return -1; }
    // The window starts with the box ticked, and headless there is no box to clear it.
    int Check1Value() const override { return 1; }

    void ShowWindow() override {}
    void HideWindow() override {}
    void TraySetImage(TrayPicture) override {}

    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override;
    void ReportFileError(const QString& message) override;

    // Questions can be asked only when standard input is a terminal.
    static bool CanAsk();

private:
    void WriteLogLines(QByteArrayView prefix, QByteArrayView lines);

    LogOutput output;
    QString host;
    QStringList blocked;
};
