#include "gui/ClientTlsBox.h"

#include "gui/FileChooser.h"
#include "gui/FitText.h"
#include "gui/PortSpinBox.h"
#include "platform/TrustInstructions.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>

ClientTlsBox::ClientTlsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("メーラーとの接続"), parent) {
    setObjectName(QStringLiteral("ClientTlsBox"));
    enabled = new QCheckBox(QStringLiteral("STLS と SASL（PLAIN・LOGIN）を受け付ける"), this);
    enabled->setObjectName(QStringLiteral("ClientTlsEnabled"));
    enabled->setToolTip(
        QStringLiteral("外すと STLS も SASL も断り、以前と同じく暗号化のない接続だけになります。"));

    port = new PortSpinBox(this);
    port->setObjectName(QStringLiteral("ClientTlsPort"));
    port->setMinimum(0);
    port->setSpecialValueText(QStringLiteral("使わない"));
    port->setToolTip(QStringLiteral(
        "メーラーが最初から TLS で接続するポート（SSL/TLS、ふつうは995）です。0 で使いません。"));

    certificate = new QLineEdit(this);
    certificate->setObjectName(QStringLiteral("ClientCertificate"));
    certificate->setPlaceholderText(QStringLiteral("Quorlin が作った証明書"));
    FitPlaceholder(certificate);
    key = new QLineEdit(this);
    key->setObjectName(QStringLiteral("ClientKey"));
    key->setPlaceholderText(QStringLiteral("Quorlin が作った秘密鍵"));
    FitPlaceholder(key);

    trust = new QPlainTextEdit(this);
    trust->setObjectName(QStringLiteral("ClientCertificateTrust"));
    trust->setReadOnly(true);
    trust->setLineWrapMode(QPlainTextEdit::NoWrap);
    trust->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    trust->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    trust->setToolTip(QStringLiteral("メーラーにこの証明書を信頼させるための情報です。"));

    auto* form = new QFormLayout(this);
    form->addRow(enabled);
    portCaption = new QLabel(QStringLiteral("SSL/TLS ポート"), this);
    certificateCaption = new QLabel(QStringLiteral("証明書"), this);
    keyCaption = new QLabel(QStringLiteral("秘密鍵"), this);
    form->addRow(portCaption, port);
    form->addRow(certificateCaption,
                 FileChooserRow(certificate, QStringLiteral("証明書"), CertificateFileFilter));
    form->addRow(keyCaption,
                 FileChooserRow(key, QStringLiteral("秘密鍵"),
                                QStringLiteral("秘密鍵 (*.pem *.key);;すべてのファイル (*)")));
    form->addRow(QStringLiteral("使用中の証明書"), trust);
}

void ClientTlsBox::SetValue(const ClientTlsSetting& setting) {
    enabled->setChecked(setting.enabled);
    port->setValue(setting.implicitPort);
    certificate->setText(setting.certificateFile);
    key->setText(setting.keyFile);
}

ClientTlsSetting ClientTlsBox::Value() const {
    return {enabled->isChecked(), static_cast<quint16>(port->value()),
            certificate->text().trimmed(), key->text().trimmed()};
}

void ClientTlsBox::MarkFromCommandLine(bool enabledGiven, bool portGiven, bool filesGiven,
                                       const QString& mark) {
    if (enabledGiven) {
        enabled->setText(enabled->text() + mark);
    }
    for (QLabel* caption :
         {portGiven ? portCaption : nullptr, filesGiven ? certificateCaption : nullptr,
          filesGiven ? keyCaption : nullptr}) {
        if (caption) {
            caption->setText(caption->text() + mark);
        }
    }
}

void ClientTlsBox::ShowCertificate(const TlsIdentity& identity) {
    if (identity.IsNull()) {
        trust->setPlainText(QStringLiteral("証明書がありません（TLS は使われていません）。"));
        return;
    }
    const QStringList lines = TrustInstructions(
        identity.certificatePath, identity.Certificate(),
        {QStringLiteral("ファイル: %1"), QStringLiteral("SHA-256: %1"), QStringLiteral("MD5: %1"),
         QStringLiteral("fetchmail（~/.fetchmailrc の poll の項に 2 行とも）:"),
         QStringLiteral("neomutt（~/.neomuttrc に）:")});
    trust->setPlainText(lines.join(QLatin1Char('\n')));
    // Every line shown whole, nothing to scroll for: the lines are there to be copied.
    const QFontMetrics metrics = trust->fontMetrics();
    int widest = 0;
    for (const QString& line : lines) {
        widest = qMax(widest, metrics.horizontalAdvance(line));
    }
    const int margins = 2 * (trust->frameWidth() + int(trust->document()->documentMargin()));
    trust->setMinimumSize(widest + margins + 2 * metrics.averageCharWidth(),
                          metrics.lineSpacing() * int(lines.size() + 1) + margins);
}
