#pragma once

#include "platform/TlsTrust.h"

#include <QDialog>

class QPushButton;

// Shown when the mail server's certificate was refused: the reason, the certificate's subject,
// issuer, validity and SHA-256 fingerprint, and the offer to trust it for this server from the
// next connection on. A certificate outside its validity period cannot be trusted this way,
// so the offer is not made for it.
//
// It comes up on top without taking the keyboard, and trusts only on a click of its trust
// button, or by key once the user has clicked into it.
class CertificateTrustDialog : public QDialog {
    Q_OBJECT

public:
    explicit CertificateTrustDialog(const TlsFailure& failure, QWidget* parent = nullptr);

    QPushButton* TrustButton() const { return trustButton; }
    bool TrustOffered() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The fingerprint has been saved for the host.
    void Trusted(const QString& host, const QByteArray& fingerprint);

private:
    void Trust();

    TlsFailure failure;
    QPushButton* trustButton = nullptr;
};
