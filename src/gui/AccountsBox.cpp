#include "gui/AccountsBox.h"

#include "gui/FileChooser.h"
#include "gui/PortSpinBox.h"
#include "gui/ServerSecurityBox.h"
#include "settings/ServerSecurity.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QStringList Columns = {QStringLiteral("ログイン名"),
                             QStringLiteral("サーバー"),
                             QStringLiteral("ポート"),
                             QStringLiteral("接続方式"),
                             QStringLiteral("サーバー側のユーザー名"),
                             QStringLiteral("待ち受けポート")};

QString PortText(quint16 port) {
    return port == 0 ? QString() : QString::number(port);
}

// What the table and the file hold of an account.
bool SameSaved(const Account& a, const Account& b) {
    return a.login == b.login && a.host == b.host && a.security == b.security && a.port == b.port &&
           a.caFile == b.caFile && a.serverUser == b.serverUser && a.listenPort == b.listenPort;
}

} // namespace

AccountEditDialog::AccountEditDialog(const Account& account, const QStringList& takenLogins,
                                     QWidget* parent)
    : QDialog(parent), taken(takenLogins) {
    setObjectName(QStringLiteral("AccountEditDialog"));
    setWindowTitle(QStringLiteral("アカウント"));
    login = new QLineEdit(account.login, this);
    login->setObjectName(QStringLiteral("AccountLogin"));
    login->setPlaceholderText(QStringLiteral("メールソフトのユーザー名（大文字と小文字も区別）"));
    host = new QLineEdit(account.host, this);
    host->setObjectName(QStringLiteral("AccountHost"));
    mode = new QComboBox(this);
    mode->setObjectName(QStringLiteral("AccountSecurity"));
    AddSecurityModes(*mode);
    mode->setCurrentIndex(mode->findData(int(account.security)));
    shownMode = account.security;
    port = new PortSpinBox(this);
    port->setObjectName(QStringLiteral("AccountPort"));
    port->setValue(account.port);
    serverUser = new QLineEdit(account.serverUser, this);
    serverUser->setObjectName(QStringLiteral("AccountServerUser"));
    serverUser->setPlaceholderText(QStringLiteral("ログイン名と同じ"));
    listenPort = new QSpinBox(this);
    listenPort->setObjectName(QStringLiteral("AccountListenPort"));
    listenPort->setRange(0, 65535);
    listenPort->setSpecialValueText(QStringLiteral("なし"));
    listenPort->setValue(account.listenPort);
    caFile = new QLineEdit(account.caFile, this);
    caFile->setObjectName(QStringLiteral("AccountCaFile"));
    caFile->setPlaceholderText(QStringLiteral("システムの認証局だけを使う"));
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("AccountProblem"));
    problem->setStyleSheet(QStringLiteral("color: #b00000"));

    auto* form = new QFormLayout;
    form->addRow(Columns[0], login);
    form->addRow(Columns[1], host);
    form->addRow(Columns[3], mode);
    form->addRow(Columns[2], port);
    form->addRow(Columns[4], serverUser);
    form->addRow(Columns[5], listenPort);
    form->addRow(QStringLiteral("CAファイル"),
                 FileChooserRow(caFile, QStringLiteral("CAファイル"), CertificateFileFilter));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &AccountEditDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AccountEditDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem);
    layout->addWidget(buttons);
    connect(mode, &QComboBox::currentIndexChanged, this, &AccountEditDialog::ModeChanged);
    ModeChanged();
}

void AccountEditDialog::ModeChanged() {
    shownMode = FollowMode(*mode, *port, *caFile, shownMode);
}

Account AccountEditDialog::Value() const {
    Account account;
    // Exactly as the mail client will send it: spaces inside a name count.
    account.login = login->text();
    account.host = host->text().trimmed();
    account.security = SecurityMode(mode->currentData().toInt());
    account.port = static_cast<quint16>(port->value());
    account.serverUser = serverUser->text();
    account.listenPort = static_cast<quint16>(listenPort->value());
    account.caFile = account.security == SecurityMode::None ? QString() : caFile->text().trimmed();
    return account;
}

void AccountEditDialog::accept() {
    const Account account = Value();
    if (account.login.isEmpty()) {
        problem->setText(QStringLiteral("ログイン名を入力してください。"));
    } else if (account.host.isEmpty()) {
        problem->setText(QStringLiteral("サーバー名を入力してください。"));
    } else if (taken.contains(account.login)) {
        problem->setText(QStringLiteral("このログイン名はほかのアカウントで使われています。"));
    } else {
        QDialog::accept();
        return;
    }
    problem->show();
}

AccountsBox::AccountsBox(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AccountsBox"));
    table = new QTableWidget(0, int(Columns.size()), this);
    table->setObjectName(QStringLiteral("Accounts"));
    table->setHorizontalHeaderLabels(Columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    // Rows as tall as a line of text, and room for a few accounts before the table scrolls.
    constexpr int ShownRows = 4;
    const int rowHeight = table->fontMetrics().height() + 6;
    table->verticalHeader()->setDefaultSectionSize(rowHeight);
    table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() + ShownRows * rowHeight +
                            2 * table->frameWidth());
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setToolTip(QStringLiteral("ここにないログイン名は上のメールサーバーへ送ります。"));

    auto* add = new QPushButton(QStringLiteral("追加"), this);
    add->setObjectName(QStringLiteral("AddAccount"));
    auto* edit = new QPushButton(QStringLiteral("編集"), this);
    edit->setObjectName(QStringLiteral("EditAccount"));
    auto* remove = new QPushButton(QStringLiteral("削除"), this);
    remove->setObjectName(QStringLiteral("RemoveAccount"));
    connect(add, &QPushButton::clicked, this, &AccountsBox::Add);
    connect(edit, &QPushButton::clicked, this, &AccountsBox::Edit);
    connect(remove, &QPushButton::clicked, this, &AccountsBox::Remove);
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row) { OpenEditorFor(row); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(edit);
    buttons->addWidget(remove);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table);
    layout->addLayout(buttons);
}

bool AccountsBox::ChangedFrom(const QList<Account>& shown) const {
    return !std::equal(shown.cbegin(), shown.cend(), accounts.cbegin(), accounts.cend(), SameSaved);
}

void AccountsBox::SetAccounts(const QList<Account>& shown) {
    accounts = shown;
    Show();
}

void AccountsBox::Show() {
    table->setRowCount(int(accounts.size()));
    for (int row = 0; row < accounts.size(); ++row) {
        const Account& account = accounts[row];
        const QStringList cells = {account.login,
                                   account.host,
                                   QString::number(account.port),
                                   SecurityModeLabel(account.security),
                                   account.serverUser,
                                   PortText(account.listenPort)};
        for (int column = 0; column < cells.size(); ++column) {
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
    }
}

void AccountsBox::Add() {
    OpenEditorFor(-1);
}

void AccountsBox::Edit() {
    OpenEditorFor(table->currentRow());
}

// Modal to the settings dialog, but not blocking: the tests and the event loop go on.
void AccountsBox::OpenEditorFor(int row) {
    if (editor || row >= accounts.size()) {
        return;
    }
    const bool adding = row < 0;
    QStringList taken;
    for (int other = 0; other < accounts.size(); ++other) {
        if (other != row) {
            taken.append(accounts[other].login);
        }
    }
    editor = new AccountEditDialog(adding ? Account{} : accounts[row], taken, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setWindowModality(Qt::WindowModal);
    connect(editor, &QDialog::accepted, this, [this, row, adding] {
        if (adding) {
            accounts.append(editor->Value());
        } else if (row < accounts.size()) {
            accounts[row] = editor->Value();
        }
        Show();
        table->selectRow(adding ? int(accounts.size()) - 1 : row);
    });
    connect(editor, &QObject::destroyed, this, [this] { editor = nullptr; });
    editor->show();
}

void AccountsBox::Remove() {
    const int row = table->currentRow();
    if (row < 0 || row >= accounts.size()) {
        return;
    }
    accounts.removeAt(row);
    Show();
}
