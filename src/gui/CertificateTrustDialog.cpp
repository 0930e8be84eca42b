#include "gui/CertificateTrustDialog.h"

#include "settings/ServerSecurity.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* Selectable(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QString Date(const QDateTime& when) {
    return when.toString(QStringLiteral("yyyy/MM/dd HH:mm 'UTC'"));
}

bool WithinValidity(const QSslCertificate& certificate) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return certificate.effectiveDate() <= now && now <= certificate.expiryDate();
}

} // namespace

CertificateTrustDialog::CertificateTrustDialog(const TlsFailure& refused, QWidget* parent)
    : QDialog(parent), failure(refused) {
    setObjectName(QStringLiteral("CertificateTrustDialog"));
    setWindowTitle(QStringLiteral("サーバー証明書の確認"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        Selectable(QStringLiteral("メールサーバー %1:%2 との暗号化接続を中止しました。\n理由: %3")
                       .arg(failure.host)
                       .arg(failure.port)
                       .arg(failure.reason),
                   this));

    const CertificateSummary summary = Summarize(failure.certificate);
    if (!summary.isNull) {
        auto* form = new QFormLayout;
        form->addRow(QStringLiteral("発行先"), Selectable(summary.subject, this));
        form->addRow(QStringLiteral("発行者"), Selectable(summary.issuer, this));
        form->addRow(
            QStringLiteral("有効期間"),
            Selectable(
                QStringLiteral("%1 〜 %2").arg(Date(summary.notBefore), Date(summary.notAfter)),
                this));
        QLabel* fingerprint = Selectable(summary.fingerprint, this);
        fingerprint->setObjectName(QStringLiteral("Fingerprint"));
        fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        form->addRow(QStringLiteral("SHA-256"), fingerprint);
        layout->addLayout(form);
    }

    auto* buttons = new QDialogButtonBox(this);
    trustButton =
        buttons->addButton(QStringLiteral("この証明書を信頼する"), QDialogButtonBox::AcceptRole);
    trustButton->setObjectName(QStringLiteral("TrustButton"));
    QPushButton* close =
        buttons->addButton(QStringLiteral("信頼しない"), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    if (summary.isNull) {
        trustButton->hide();
    } else if (!WithinValidity(failure.certificate)) {
        trustButton->setEnabled(false);
        layout->addWidget(new QLabel(
            QStringLiteral("この証明書は有効期間外のため、信頼しても接続できません。"), this));
    } else {
        layout->addWidget(
            new QLabel(QStringLiteral("指紋がサーバー管理者の示すものと一致する場合だけ信頼して"
                                      "ください。\n次回の接続から、このサーバーでこの証明書を"
                                      "受け入れます。"),
                       this));
    }
    layout->addWidget(buttons);
    connect(trustButton, &QPushButton::clicked, this, &CertificateTrustDialog::Trust);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool CertificateTrustDialog::TrustOffered() const {
    return !trustButton->isHidden() && trustButton->isEnabled();
}

void CertificateTrustDialog::Trust() {
    const QByteArray fingerprint = CertificateFingerprint(failure.certificate);
    const Result<> saved = AddTrustedFingerprint(failure.host, fingerprint);
    if (!saved) {
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("信頼する証明書を保存できませんでした。\n%1").arg(saved.Error()));
        return;
    }
    Q_EMIT Trusted(failure.host, fingerprint);
    accept();
}
