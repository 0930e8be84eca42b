#pragma once

class QCheckBox;
class QLabel;

// The window's controls have fixed sizes, and a caption that is wider than its control in the
// system's font (a long Japanese caption in a large font) would be cut off. These make the
// control's font just small enough for the whole caption to show, and never larger.
void FitCaption(QLabel* label);
void FitCaption(QCheckBox* checkBox);
