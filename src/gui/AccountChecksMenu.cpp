#include "gui/AccountChecksMenu.h"

#include "settings/Settings.h"

#include <QAction>
#include <QMenu>

QString AccountCheckText(const AccountCheck& check) {
    const QString time = check.when.toString(QStringLiteral("HH:mm"));
    switch (check.outcome) {
    case AccountCheck::Outcome::LoginRefused:
        return QStringLiteral("%1 ログインできませんでした").arg(time);
    case AccountCheck::Outcome::NoConnection:
        return QStringLiteral("%1 サーバーに接続できませんでした").arg(time);
    case AccountCheck::Outcome::NoTls:
        return QStringLiteral("%1 サーバーと安全に接続できませんでした").arg(time);
    case AccountCheck::Outcome::Done:
        break;
    }
    return QStringLiteral("%1 受信 %2 通、タグ付け %3 通")
        .arg(time)
        .arg(check.retrieved)
        .arg(check.tagged);
}

AccountChecksMenu::AccountChecksMenu(QMenu& trayMenu, const Settings& shownSettings,
                                     QObject* parent)
    : QObject(parent), menu(trayMenu), settings(shownSettings) {
    connect(&menu, &QMenu::aboutToShow, this, &AccountChecksMenu::Refresh);
}

void AccountChecksMenu::Record(const AccountCheck& check) {
    last.insert(check.login, check);
    Refresh();
}

QStringList AccountChecksMenu::Lines() const {
    QStringList lines;
    for (const QAction* action : shown) {
        if (!action->isSeparator()) {
            lines.append(action->text());
        }
    }
    return lines;
}

void AccountChecksMenu::Refresh() {
    qDeleteAll(shown);
    shown.clear();
    if (!settings.HasAccounts()) {
        return;
    }
    QAction* const before = menu.actions().value(0);
    const auto add = [&](QAction* action) {
        menu.insertAction(before, action);
        shown.append(action);
    };
    for (const Account& account : settings.accounts) {
        const QString name = account.login.isEmpty() ? account.host : account.login;
        if (name.isEmpty()) {
            continue; // no default server
        }
        const auto check = last.constFind(account.login);
        auto* line =
            new QAction(QStringLiteral("%1：%2").arg(
                            name, check == last.cend() ? QStringLiteral("まだ受信していません")
                                                       : AccountCheckText(*check)),
                        &menu);
        line->setEnabled(false);
        add(line);
    }
    auto* separator = new QAction(&menu);
    separator->setSeparator(true);
    add(separator);
}
