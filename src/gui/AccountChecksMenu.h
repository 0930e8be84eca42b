#pragma once

#include "relay/AccountCheck.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
struct Settings;

// "12:04 受信 3 通、タグ付け 1 通", or the failure with its time: how a check went, as the tray
// menu says it.
QString AccountCheckText(const AccountCheck& check);

// The tray menu's lines about the accounts, above its own items: one entry per account (the
// default server by its host) with its last check. Made afresh whenever the menu opens, so
// that accounts added meanwhile show; none while there are no accounts, and the menu is then
// as it always was.
class AccountChecksMenu : public QObject {
    Q_OBJECT

public:
    AccountChecksMenu(QMenu& menu, const Settings& settings, QObject* parent = nullptr);

    void Record(const AccountCheck& check);
    // The entries' texts as shown now.
    QStringList Lines() const;

private:
    void Refresh();

    QMenu& menu;
    const Settings& settings;
    QHash<QString, AccountCheck> last; // by login name; the default account's is empty
    QList<QAction*> shown;
};
