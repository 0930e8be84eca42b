#include "gui/FitText.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>

namespace {

// Below this a caption is no longer worth reading; it is then cut off instead.
constexpr qreal SmallestPointSize = 6.0;

void ShrinkFont(QWidget* control, const QString& caption, int room) {
    QFont font = control->font();
    qreal size = font.pointSizeF();
    if (size <= 0) {
        return; // a font sized in pixels: left as the style made it
    }
    while (QFontMetrics(font).horizontalAdvance(caption) > room && size > SmallestPointSize) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    if (font != control->font()) {
        control->setFont(font);
    }
}

} // namespace

void FitCaption(QLabel* label) {
    const int room = label->contentsRect().width() - 2 * label->margin();
    ShrinkFont(label, label->text(), room);
}

void FitCaption(QCheckBox* checkBox) {
    const QStyle* style = checkBox->style();
    const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, checkBox) +
                          style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, checkBox);
    // A little room for the focus frame the style draws around the caption.
    const int room = checkBox->width() - indicator - 4;
    ShrinkFont(checkBox, checkBox->text(), room);
}
