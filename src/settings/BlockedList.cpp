#include "settings/BlockedList.h"

#include "platform/ProgramFiles.h"
#include "settings/FileErrorMessages.h"
#include "settings/SettingsView.h"

QString BlockedListPath() {
    return SettingsDirectory() + QStringLiteral("/Quorlin_BatList.ini");
}

bool LoadBlockedList(SettingsView& view) {
    const QString path = BlockedListPath();
    if (!PlainFileExists(path)) {
        return true;
    }
    const LinesResult read = ReadLines(path);
    if (!read.ok) {
        view.ReportFileError(ReadFailureMessage(read));
        return false;
    }
    for (const QString& entry : read.lines) {
        view.List3AddItem(entry);
    }
    return true;
}

bool AddBlockedEntry(SettingsView& view) {
    const std::optional<QString> answer =
        view.InputBox(QStringLiteral("受け取りたくない文字セットを入力してください。"),
                      QStringLiteral("Quorlin"), QString());
    if (!answer || answer->isEmpty()) {
        return true;
    }
    view.List3AddItem(*answer);
    return SaveBlockedList(view);
}

bool RemoveBlockedEntry(SettingsView& view) {
    const int selected = view.List3FirstSelected();
    if (selected >= 0 && selected < view.List3Items().size()) {
        view.List3RemoveItem(selected);
    }
    return SaveBlockedList(view);
}

bool SaveBlockedList(SettingsView& view) {
    const FileResult written = WriteLines(BlockedListPath(), view.List3Items());
    if (!written.ok) {
        view.ReportFileError(WriteFailureMessage(written));
    }
    return written.ok;
}

bool BlockedListKeyDown(SettingsView& view, VirtualKey key) {
    switch (key) {
    case VirtualKey::Insert:
        AddBlockedEntry(view);
        return true;
    case VirtualKey::Delete:
        RemoveBlockedEntry(view);
        return true;
    default:
        return false;
    }
}
