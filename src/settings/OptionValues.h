#pragma once

#include <QHostAddress>
#include <QSettings>
#include <QString>
#include <optional>

// How a value of the options file is read, the same when it is loaded and when it is checked:
// spaces around a value are ignored; anything these do not take is no value (nullopt), which the
// loaders replace with the default and the check reports.

// The value as the user wrote it: QSettings splits a value at its commas, and they are put back.
QString OptionText(const QSettings& file, const QString& key);

// A port from 1 to 65535.
std::optional<quint16> ParsePortValue(const QString& text);
// A port, or 0 (or nothing) for none.
std::optional<quint16> ParsePortOrNone(const QString& text);
// A whole number from 1 to `most`.
std::optional<int> ParseCountValue(const QString& text, int most);
// A switch: true/false, yes/no, on/off or 1/0, in any letter case.
std::optional<bool> ParseSwitch(const QString& text);
// An IP address, or "localhost" for the loopback one; an empty text means every address of the
// machine.
std::optional<QHostAddress> ParseAddressValue(const QString& text);
