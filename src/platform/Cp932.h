#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Code page 932 (Shift_JIS as Windows has it): the encoding of what the user sees, types and
// stores. Wire data never passes through here except to be shown.
// Invalid bytes decode to U+FFFD and the rest is kept; characters the code page lacks encode
// to "?". Neither direction throws.
QString Cp932ToText(QByteArrayView bytes);
QByteArray TextToCp932(QStringView text);
