#pragma once

#include "settings/ServerSecurity.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The mail server's connection settings for a settings dialog: how to reach it (plain with
// APOP, SSL/TLS, STARTTLS), the port, and a CA file. Changing the mode moves a port still at
// the old mode's default to the new one's.
class ServerSecurityBox : public QGroupBox {
    Q_OBJECT

public:
    explicit ServerSecurityBox(QWidget* parent = nullptr);

    void SetValue(const ServerSecurity& security);
    ServerSecurity Value() const;

    // The captions of the values this run's command line gave get `mark` behind them.
    void MarkFromCommandLine(bool mode, bool port, bool caFile, const QString& mark);

    QComboBox* ModeBox() const { return mode; }
    QSpinBox* PortBox() const { return port; }
    QLineEdit* CaFileBox() const { return caFile; }

private:
    void ModeChanged();

    QComboBox* mode = nullptr;
    QLabel* modeCaption = nullptr;
    QLabel* portCaption = nullptr;
    QLabel* caFileCaption = nullptr;
    QSpinBox* port = nullptr;
    QLineEdit* caFile = nullptr;
    SecurityMode shownMode = SecurityMode::None;
};

// The ways to reach a mail server, as a settings box offers them, each with its mode as data.
void AddSecurityModes(QComboBox& box);
// A change of mode in such a box: a port still at the old mode's default moves to the new one's,
// and a CA file counts only with TLS. The new mode comes back, the old one of the next change.
SecurityMode FollowMode(const QComboBox& box, QSpinBox& port, QLineEdit& caFile, SecurityMode was);

// The window caption's note of the mode: empty for plain, " [TLS]" or " [STLS]" otherwise.
QString SecurityCaptionSuffix(SecurityMode mode);
