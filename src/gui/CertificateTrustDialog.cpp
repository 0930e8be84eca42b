#include "gui/CertificateTrustDialog.h"

#include "gui/TlsFailureText.h"
#include "settings/ServerSecurity.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
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
    layout->addWidget(Selectable(TlsRefusalMessage(failure), this));

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

    // The safe answer is the default and has the focus; trusting stands apart at the other end
    // and takes no key until the user has clicked into the dialog: it comes up during a mail
    // check, maybe while the user types elsewhere, and a stray Enter, space or Tab must not
    // trust anything.
    trustButton = new QPushButton(QStringLiteral("この証明書を信頼する"), this);
    trustButton->setObjectName(QStringLiteral("TrustButton"));
    trustButton->setAutoDefault(false);
    trustButton->setFocusPolicy(Qt::NoFocus);
    auto* close = new QPushButton(QStringLiteral("信頼しない"), this);
    close->setObjectName(QStringLiteral("DistrustButton"));
    close->setDefault(true);
    close->setFocus();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(trustButton);
    buttons->addStretch();
    buttons->addWidget(close);
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
    layout->addLayout(buttons);
    connect(trustButton, &QPushButton::clicked, this, &CertificateTrustDialog::Trust);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    // Up like the window at a mail check: on top, without the keyboard.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
}

bool CertificateTrustDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        // The user has come to the dialog on purpose: the keyboard may trust from now on.
        trustButton->setFocusPolicy(Qt::StrongFocus);
        trustButton->setAutoDefault(true);
    }
    return QDialog::eventFilter(watched, event);
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
