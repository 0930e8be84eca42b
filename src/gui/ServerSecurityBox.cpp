#include "gui/ServerSecurityBox.h"

#include "gui/FileChooser.h"
#include "gui/FitText.h"
#include "gui/PortSpinBox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

ServerSecurityBox::ServerSecurityBox(QWidget* parent)
    : QGroupBox(QStringLiteral("メールサーバーへの接続"), parent) {
    setObjectName(QStringLiteral("ServerSecurityBox"));
    mode = new QComboBox(this);
    mode->setObjectName(QStringLiteral("SecurityMode"));
    AddSecurityModes(*mode);
    mode->setToolTip(QStringLiteral("SSL/TLS はふつうポート995、STARTTLS はポート110です。"));

    port = new PortSpinBox(this);
    port->setObjectName(QStringLiteral("ServerPort"));
    port->setValue(DefaultServerPort(SecurityMode::None));

    caFile = new QLineEdit(this);
    caFile->setObjectName(QStringLiteral("CaFile"));
    caFile->setPlaceholderText(QStringLiteral("システムの認証局だけを使う"));
    FitPlaceholder(caFile);

    modeCaption = new QLabel(QStringLiteral("暗号化"), this);
    portCaption = new QLabel(QStringLiteral("ポート"), this);
    caFileCaption = new QLabel(QStringLiteral("CAファイル"), this);
    auto* form = new QFormLayout(this);
    form->addRow(modeCaption, mode);
    form->addRow(portCaption, port);
    form->addRow(caFileCaption,
                 FileChooserRow(caFile, QStringLiteral("CAファイル"), CertificateFileFilter));
    connect(mode, &QComboBox::currentIndexChanged, this, &ServerSecurityBox::ModeChanged);
    ModeChanged();
}

void ServerSecurityBox::SetValue(const ServerSecurity& security) {
    mode->setCurrentIndex(mode->findData(int(security.mode)));
    shownMode = security.mode;
    port->setValue(security.EffectivePort());
    caFile->setText(security.caFile);
    ModeChanged();
}

ServerSecurity ServerSecurityBox::Value() const {
    ServerSecurity security;
    security.mode = SecurityMode(mode->currentData().toInt());
    // A port at the mode's default is not written, so that it follows a later change of mode.
    if (port->value() != DefaultServerPort(security.mode)) {
        security.port = static_cast<quint16>(port->value());
    }
    security.caFile = caFile->text().trimmed();
    return security;
}

void ServerSecurityBox::MarkFromCommandLine(bool modeGiven, bool portGiven, bool caFileGiven,
                                            const QString& mark) {
    for (const auto& [caption, given] :
         {std::pair{modeCaption, modeGiven}, std::pair{portCaption, portGiven},
          std::pair{caFileCaption, caFileGiven}}) {
        if (given) {
            caption->setText(caption->text() + mark);
        }
    }
}

void ServerSecurityBox::ModeChanged() {
    shownMode = FollowMode(*mode, *port, *caFile, shownMode);
}

void AddSecurityModes(QComboBox& box) {
    for (const SecurityMode choice : SecurityModes) {
        box.addItem(SecurityModeLabel(choice), int(choice));
    }
}

SecurityMode FollowMode(const QComboBox& box, QSpinBox& port, QLineEdit& caFile, SecurityMode was) {
    const auto chosen = SecurityMode(box.currentData().toInt());
    if (port.value() == DefaultServerPort(was)) {
        port.setValue(DefaultServerPort(chosen));
    }
    caFile.setEnabled(chosen != SecurityMode::None);
    return chosen;
}

QString SecurityCaptionSuffix(SecurityMode mode) {
    return mode == SecurityMode::None ? QString()
                                      : QStringLiteral(" [%1]").arg(SecurityModeDescription(mode));
}
