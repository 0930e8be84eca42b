#pragma once

#include <QString>

// What the user is told when a settings file fails: what went wrong, the file and the system's
// reason, so the user can find and fix it.
QString ReadFailureMessage(const QString& path, const QString& reason);
QString WriteFailureMessage(const QString& path, const QString& reason);
