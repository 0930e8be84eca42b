#pragma once

#include "settings/Settings.h"

#include <QDialog>
#include <QList>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

// One account as the user fills it in: login name, server, security and port, the name the
// server knows, a listen port of its own and a CA file. OK is refused, with the reason shown,
// while the login name or the server is missing or the login name is another account's.
class AccountEditDialog : public QDialog {
    Q_OBJECT

public:
    AccountEditDialog(const Account& account, const QStringList& takenLogins,
                      QWidget* parent = nullptr);
    Account Value() const;

    void accept() override;

private:
    void ModeChanged();

    QStringList taken;
    QLineEdit* login = nullptr;
    QLineEdit* host = nullptr;
    QComboBox* mode = nullptr;
    QSpinBox* port = nullptr;
    QLineEdit* serverUser = nullptr;
    QSpinBox* listenPort = nullptr;
    QLineEdit* caFile = nullptr;
    QLabel* problem = nullptr;
    SecurityMode shownMode = SecurityMode::None;
};

// The settings dialog's accounts page: a table of them (ログイン名, サーバー, ポート, 接続方式,
// サーバー側のユーザー名, 待ち受けポート) with add, edit and remove. It edits a copy; the dialog's
// OK writes it when it changed.
class AccountsBox : public QWidget {
    Q_OBJECT

public:
    explicit AccountsBox(QWidget* parent = nullptr);

    // The accounts beside the default one.
    void SetAccounts(const QList<Account>& accounts);
    const QList<Account>& Accounts() const { return accounts; }
    // Whether the user changed the table since it showed these.
    bool ChangedFrom(const QList<Account>& shown) const;

    QTableWidget* Table() const { return table; }
    // What the add and edit buttons open, for the tests: null while none is open.
    AccountEditDialog* OpenEditor() const { return editor; }

private:
    void Add();
    void Edit();
    void Remove();
    void Show();
    void OpenEditorFor(int row);

    QList<Account> accounts;
    QTableWidget* table = nullptr;
    AccountEditDialog* editor = nullptr;
};
