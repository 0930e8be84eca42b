#include "gui/SettingsDialog.h"

#include "gui/PortSpinBox.h"
#include "settings/FileErrorMessages.h"
#include "settings/ListenSetting.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

const QString SettingsDialog::Title = QStringLiteral("設定");

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(Title);

    const ListenSetting saved = LoadListenSetting();
    listenPort = new PortSpinBox(this);
    listenPort->setObjectName(QStringLiteral("ListenPort"));
    listenPort->setValue(saved.port);
    listenPort->setToolTip(
        QStringLiteral("メーラーが接続するポートです。1024 未満には特別な権限が必要です。"));

    listenAddress = new QLineEdit(this);
    listenAddress->setObjectName(QStringLiteral("ListenAddress"));
    listenAddress->setPlaceholderText(QStringLiteral("すべてのアドレス"));
    if (saved.address != QHostAddress(QHostAddress::Any)) {
        listenAddress->setText(saved.address.toString());
    }
    listenAddress->setToolTip(QStringLiteral(
        "このマシンのメーラーだけなら 127.0.0.1、空欄ならすべてのアドレスで待ち受けます。"));

    form = new QFormLayout;
    form->addRow(QStringLiteral("待ち受けポート"), listenPort);
    form->addRow(QStringLiteral("待ち受けアドレス"), listenAddress);

    note = new QLabel(
        QStringLiteral("待ち受けとメーラーとの接続の変更は次回の起動から有効になります。"), this);
    note->setObjectName(QStringLiteral("ListenNote"));
    note->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

void SettingsDialog::ListenChangeAppliesAtOnce() {
    note->hide();
}

void SettingsDialog::accept() {
    ListenSetting setting;
    setting.port = static_cast<quint16>(listenPort->value());
    const QString addressText = listenAddress->text().trimmed();
    if (!addressText.isEmpty()) {
        setting.address = QHostAddress(addressText);
        if (setting.address.isNull()) {
            QMessageBox::warning(
                this, Title,
                QStringLiteral("「%1」は IP アドレスではありません。空欄にするとすべてのアドレスで"
                               "待ち受けます。")
                    .arg(addressText));
            return;
        }
    }
    const Result<> written = SaveListenSetting(setting);
    if (!written) {
        QMessageBox::warning(this, Title, WriteFailureMessage(written.Where(), written.Error()));
        return;
    }
    QDialog::accept();
}
