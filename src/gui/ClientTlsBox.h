#pragma once

#include "settings/ClientTlsSetting.h"

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// TLS toward the mail clients for a settings dialog: the switch for STLS and SASL, the port for
// TLS from the first byte, a certificate and key of the user's own, and the certificate mail
// clients are shown now, with what they need to trust it (to copy from).
class ClientTlsBox : public QGroupBox {
    Q_OBJECT

public:
    explicit ClientTlsBox(QWidget* parent = nullptr);

    void SetValue(const ClientTlsSetting& setting);
    ClientTlsSetting Value() const;
    // The certificate in force this run; a null one when there is none.
    void ShowCertificate(const TlsIdentity& identity);
    // Puts `mark` behind the captions of what this run's command line gave.
    void MarkFromCommandLine(bool enabledGiven, bool portGiven, bool filesGiven,
                             const QString& mark);

    QCheckBox* EnabledBox() const { return enabled; }
    QSpinBox* PortBox() const { return port; }
    QLineEdit* CertificateBox() const { return certificate; }
    QLineEdit* KeyBox() const { return key; }
    QPlainTextEdit* TrustText() const { return trust; }

private:
    QCheckBox* enabled = nullptr;
    QSpinBox* port = nullptr;
    QLineEdit* certificate = nullptr;
    QLineEdit* key = nullptr;
    QPlainTextEdit* trust = nullptr;
    QLabel* portCaption = nullptr;
    QLabel* certificateCaption = nullptr;
    QLabel* keyCaption = nullptr;
};
