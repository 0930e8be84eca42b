#pragma once

#include "platform/LogFile.h"
#include "platform/Result.h"

#include <QString>

// A log file beside the window or standard output, kept in the options file under [Log]:
//   File=/path/to/quorlin.log   (empty or missing: none; a relative path is in the settings
//                               folder)
//   MaxBytes=10485760           (the size at which it is moved aside)
//   KeptFiles=5                 (how many moved-aside files are kept)
struct LogSetting {
    QString file;
    LogRotation rotation;
};

inline constexpr int MaxLogFileBytes = 1024 * 1024 * 1024;
inline constexpr int MaxKeptLogFiles = 1000;

// A missing key, or a value that cannot be used, gives the default.
LogSetting LoadLogSetting();
// Writes File alone; an empty path removes it.
Result<> SaveLogFile(const QString& path);
