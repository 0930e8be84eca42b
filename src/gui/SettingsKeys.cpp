#include "gui/SettingsKeys.h"

#include "settings/BlockedList.h"
#include "settings/ServerSetting.h"
#include "settings/Settings.h"
#include "settings/SettingsUser.h"

bool AddBlockedEntry(Settings& settings, SettingsUser& user) {
    const std::optional<QString> answer =
        user.InputBox(QStringLiteral("受け取りたくない文字セットを入力してください。"),
                      QStringLiteral("Quorlin"), QString());
    // Spaces typed around a name would keep the entry from ever matching a mail's character
    // set; entries already in the file are left as they are.
    const QString entry = answer ? answer->trimmed() : QString();
    if (entry.isEmpty()) {
        return true;
    }
    settings.blockedCharsets.append(entry);
    return SaveBlockedList(settings, user);
}

bool RemoveBlockedEntry(Settings& settings, SettingsUser& user, int selected) {
    if (selected >= 0 && selected < settings.blockedCharsets.size()) {
        settings.blockedCharsets.removeAt(selected);
    }
    return SaveBlockedList(settings, user);
}

bool BlockedListKeyDown(Settings& settings, SettingsUser& user, int selected, VirtualKey key) {
    switch (key) {
    case VirtualKey::Insert:
        AddBlockedEntry(settings, user);
        return true;
    case VirtualKey::Delete:
        RemoveBlockedEntry(settings, user, selected);
        return true;
    default:
        return false;
    }
}

bool ServerBoxKeyDown(const Settings& settings, SettingsUser& user, VirtualKey key) {
    if (key != VirtualKey::Enter) {
        return false;
    }
    SaveServerSetting(settings, user);
    return true;
}
