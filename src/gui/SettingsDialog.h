#pragma once

#include <QDialog>

class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

// The options beyond the server host, one row each in a form: where Quorlin waits for the mail
// client, so far. Opens with the saved values and writes them when the user presses OK; a file
// that cannot be written is reported and the dialog stays open.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    static const QString Title;

    explicit SettingsDialog(QWidget* parent = nullptr);

    // The rows, so that further options can add theirs.
    QFormLayout* Form() const { return form; }
    // Opened because start-up could not go on, which then begins again with what is saved: a
    // new listen setting is used right away, and the note that it waits for the next start goes.
    void ListenChangeAppliesAtOnce();

    void accept() override;

private:
    QFormLayout* form = nullptr;
    QLabel* note = nullptr;
    QSpinBox* listenPort = nullptr;
    QLineEdit* listenAddress = nullptr;
};
