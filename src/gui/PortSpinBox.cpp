#include "gui/PortSpinBox.h"

#include <QToolTip>

PortSpinBox::PortSpinBox(QWidget* parent) : QSpinBox(parent) {
    setRange(1, 65535);
}

QValidator::State PortSpinBox::validate(QString& input, int& position) const {
    const QValidator::State state = QSpinBox::validate(input, position);
    if (state == QValidator::Invalid) {
        Refuse(input);
    }
    return state;
}

// Called with what is still no port when editing ends; the box then goes back to its value.
void PortSpinBox::fixup(QString& input) const {
    Refuse(input);
    QSpinBox::fixup(input);
}

void PortSpinBox::Refuse(const QString& input) const {
    const QString typed = input.trimmed();
    lastRefusal =
        (typed.isEmpty() ? QStringLiteral("ポート番号が入っていません。")
                         : QStringLiteral("「%1」はポート番号になりません。").arg(typed)) +
        QStringLiteral("%1 から %2 までの数を入れてください。").arg(minimum()).arg(maximum());
    QToolTip::showText(mapToGlobal(QPoint(0, height())), lastRefusal);
}
