#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Code page 932 (Shift_JIS as Windows has it): the encoding of what the user sees, types and
// stores. Wire data never passes through here except to be shown.
// Invalid bytes decode to U+FFFD and the rest is kept; characters the code page lacks encode
// to "?". Neither direction throws, and no call depends on an earlier one.
QString Cp932ToText(QByteArrayView bytes);
QByteArray TextToCp932(QStringView text);

// The length of the longest start of bytes, at most limit bytes long, that does not end between
// the two bytes of one character: where a long line can be cut for showing.
qsizetype Cp932PrefixLength(QByteArrayView bytes, qsizetype limit);

// The converter underneath: ICU through Qt where Qt was built with it, the C library's iconv
// otherwise; both give the same results, and tests switch between them to prove it. Where
// neither knows the code page, only ASCII is converted and every other byte or character
// counts as invalid.
enum class Cp932Backend { QtIcu, Iconv, AsciiOnly };
Cp932Backend ActiveCp932Backend();
// Returns false, and changes nothing, when that converter is not available on this system.
bool UseCp932Backend(Cp932Backend backend);
