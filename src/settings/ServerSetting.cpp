#include "settings/ServerSetting.h"

#include "platform/ProgramFiles.h"
#include "settings/FileErrorMessages.h"
#include "settings/Settings.h"
#include "settings/SettingsUser.h"

namespace {

bool WriteHost(SettingsUser& user, const QString& host) {
    const Result<> written = WriteLines(ServerSettingPath(), {host});
    if (!written) {
        user.ReportFileError(WriteFailureMessage(written.Where(), written.Error()));
    }
    return written.Ok();
}

} // namespace

QString ServerSettingPath() {
    return SettingsDirectory() + QStringLiteral("/Quorlin.ini");
}

bool ServerSettingExists() {
    return PlainFileExists(ServerSettingPath());
}

Result<QString> ReadServerSetting() {
    const Result<QStringList> read = ReadLines(ServerSettingPath());
    if (!read) {
        return Result<QString>::Failure(read.Error(), read.Where());
    }
    return read.Value().value(0);
}

bool LoadServerSetting(Settings& settings, SettingsUser& user) {
    QString& host = settings.DefaultAccount().host;
    if (ServerSettingExists()) {
        const Result<QString> read = ReadServerSetting();
        if (!read) {
            user.ReportFileError(ReadFailureMessage(read.Where(), read.Error()));
            return false;
        }
        host = read.Value();
        return true;
    }

    // The answer is asked for before the file is made: a run stopped at the question leaves no
    // file, so the next run asks again instead of starting with an empty host.
    const std::optional<QString> answer = user.InputBox(
        QStringLiteral("初めてですね！\r\n転送先のメールサーバーを入力してください。"),
        QStringLiteral("初期設定"), QString());
    if (!answer) {
        // Cancel leaves no file: an empty one would stop the question from coming back, and
        // the window tells the user where to set the server instead.
        host.clear();
        return true;
    }
    host = *answer;
    return WriteHost(user, *answer);
}

bool SaveServerSetting(const Settings& settings, SettingsUser& user) {
    const QString& host = settings.DefaultAccount().host;
    // Blank is no server: saved, every mail check would fail on it.
    if (host.trimmed().isEmpty()) {
        user.ReportFileError(
            QStringLiteral("サーバー名が空なので登録しませんでした。\n"
                           "APOPで接続するサーバーを入力してから「登録」を押してください。"));
        return false;
    }
    return WriteHost(user, host);
}
