#pragma once

#include <QStringList>

class QCheckBox;
class QFontMetrics;
class QLabel;
class QLineEdit;

// The window's controls have fixed sizes, and a caption that is wider than its control in the
// system's font (a long Japanese caption in a large font) would be cut off. These make the
// control's font just small enough for the whole caption to show, and never larger.
void FitCaption(QLabel* label);
void FitCaption(QCheckBox* checkBox);

// A box at least as wide as its hint (placeholder text) needs to show all of it.
void FitPlaceholder(QLineEdit* edit);

// The text cut into lines no wider than width in the font: after a space or a Japanese comma or
// full stop in the second half of a line where there is one, else wherever the width ends.
QStringList WrapToWidth(const QString& text, const QFontMetrics& metrics, int width);
