#pragma once

#include <QSpinBox>

// A TCP port, 1 to 65535. What the box cannot take is not dropped without a word: a keystroke
// that would leave the range ("70000") and a number left unfinished ("0", nothing) bring a tip
// by the box saying what was refused and which numbers are ports.
class PortSpinBox : public QSpinBox {
    Q_OBJECT

public:
    explicit PortSpinBox(QWidget* parent = nullptr);

    // The words of the last refusal, for the record; empty while there was none.
    const QString& LastRefusal() const { return lastRefusal; }

protected:
    QValidator::State validate(QString& input, int& position) const override;
    void fixup(QString& input) const override;

private:
    void Refuse(const QString& input) const;

    mutable QString lastRefusal;
};
