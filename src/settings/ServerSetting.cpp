#include "settings/ServerSetting.h"

#include "platform/ProgramFiles.h"
#include "settings/FileErrorMessages.h"
#include "settings/SettingsView.h"

namespace {

bool WriteHost(SettingsView& view, const QString& host) {
    const FileResult written = WriteLines(ServerSettingPath(), {host});
    if (!written.ok) {
        view.ReportFileError(WriteFailureMessage(written));
    }
    return written.ok;
}

} // namespace

QString ServerSettingPath() {
    return SettingsDirectory() + QStringLiteral("/Quorlin.ini");
}

bool ServerSettingExists() {
    return PlainFileExists(ServerSettingPath());
}

bool LoadServerSetting(SettingsView& view) {
    if (ServerSettingExists()) {
        const LinesResult read = ReadLines(ServerSettingPath());
        if (!read.ok) {
            view.ReportFileError(ReadFailureMessage(read));
            return false;
        }
        view.SetText1(read.lines.value(0));
        return true;
    }

    // The answer is asked for before the file is made: a run stopped at the question leaves no
    // file, so the next run asks again instead of starting with an empty host.
    const std::optional<QString> answer = view.InputBox(
        QStringLiteral("初めてですね！\r\n転送先のメールサーバーを入力してください。"),
        QStringLiteral("初期設定"), QString());
    if (!answer) {
        // Cancel leaves no file: an empty one would stop the question from coming back, and
        // the window tells the user where to set the server instead.
        view.SetText1(QString());
        return true;
    }
    view.SetText1(*answer);
    return WriteHost(view, *answer);
}

bool SaveServerSetting(SettingsView& view) {
    return WriteHost(view, view.Text1());
}

bool ServerBoxKeyDown(SettingsView& view, VirtualKey key) {
    if (key != VirtualKey::Enter) {
        return false;
    }
    SaveServerSetting(view);
    return true;
}
