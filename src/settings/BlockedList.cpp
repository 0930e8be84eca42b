#include "settings/BlockedList.h"

#include "platform/ProgramFiles.h"
#include "settings/FileErrorMessages.h"
#include "settings/Settings.h"
#include "settings/SettingsUser.h"

QString BlockedListPath() {
    return SettingsDirectory() + QStringLiteral("/Quorlin_BatList.ini");
}

Result<QStringList> ReadBlockedList() {
    const QString path = BlockedListPath();
    if (!PlainFileExists(path)) {
        return QStringList();
    }
    return ReadLines(path);
}

bool LoadBlockedList(Settings& settings, SettingsUser& user) {
    const Result<QStringList> read = ReadBlockedList();
    if (!read) {
        user.ReportFileError(ReadFailureMessage(read.Where(), read.Error()));
        return false;
    }
    settings.blockedCharsets += read.Value();
    return true;
}

bool SaveBlockedList(const Settings& settings, SettingsUser& user) {
    const Result<> written = WriteLines(BlockedListPath(), settings.blockedCharsets);
    if (!written) {
        user.ReportFileError(WriteFailureMessage(written.Where(), written.Error()));
    }
    return written.Ok();
}
