#pragma once

#include <QByteArray>
#include <QDateTime>

// A log line's time: ISO 8601 with the offset from UTC always written out, so that lines from
// before and after a change of daylight saving time sort and compare without guessing
// ("2026-01-02T03:04:05+09:00"; "+00:00" rather than "Z").
QByteArray LogTimestamp(const QDateTime& when);
