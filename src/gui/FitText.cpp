#include "gui/FitText.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// Punctuation that closes what comes before it.
const QString ClosingMarks = QStringLiteral("、。」）");

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

void FitPlaceholder(QLineEdit* edit) {
    // What the style takes from a box's width for its frame, the 2 pixels QLineEdit keeps on
    // either side of the text, and what the font's glyphs may stick out.
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = QRect(0, 0, 1000, edit->sizeHint().height());
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QRect text = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QFontMetrics metrics = edit->fontMetrics();
    const int chrome = option.rect.width() - text.width() + 2 * 2 +
                       qMax(0, -metrics.minLeftBearing()) + qMax(0, -metrics.minRightBearing());
    edit->setMinimumWidth(metrics.horizontalAdvance(edit->placeholderText()) + chrome);
}

QStringList WrapToWidth(const QString& text, const QFontMetrics& metrics, int width) {
    QStringList lines;
    QString rest = text;
    while (rest.size() > 1 && metrics.horizontalAdvance(rest) > width) {
        qsizetype fits = 1;
        while (fits < rest.size() && metrics.horizontalAdvance(rest.left(fits + 1)) <= width) {
            ++fits;
        }
        qsizetype cut = fits;
        for (qsizetype end = fits; end > fits / 2; --end) {
            const QChar last = rest.at(end - 1);
            if (last == u' ' || last == u'、' || last == u'。') {
                cut = end;
                break;
            }
        }
        // A comma or stop never starts a line: it takes the character before it along.
        if (cut > 1 && ClosingMarks.contains(rest.at(cut))) {
            --cut;
        }
        lines.append(rest.left(cut));
        rest.remove(0, cut);
    }
    lines.append(rest);
    return lines;
}
