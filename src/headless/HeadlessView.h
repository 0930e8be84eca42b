#pragma once

#include "platform/LogLineText.h"
#include "platform/LogOutput.h"
#include "relay/RelayView.h"
#include "settings/SettingsUser.h"

#include <unistd.h>

// The window's stand-in when there is none: logs go to standard output as "S: " and "C: "
// lines (never waiting for whoever reads them), questions are asked on the terminal, and
// showing, hiding and the tray do nothing.
class HeadlessView : public RelayView, public SettingsUser {
public:
    explicit HeadlessView(int logDescriptor = STDOUT_FILENO);

    void AddServerLines(QByteArrayView lines) override;
    void AddClientLines(QByteArrayView lines) override;
    void ClearServerLog() override {}
    void ClearClientLog() override {}

    void ShowWindow() override {}
    void HideWindow() override {}
    void ShowTrayPicture(TrayPicture) override {}

    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override;
    void ReportFileError(const QString& message) override;
    void ReportUnusableSettings(const QString& path,
                                const QList<UnusableSetting>& settings) override;

    // Questions can be asked only when standard input is a terminal.
    static bool CanAsk();

private:
    void WriteLogLines(QByteArrayView prefix, QByteArrayView lines);

    LogOutput output;
    LogLineText text;
};
