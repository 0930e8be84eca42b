#pragma once

#include <QString>

// Text in double quotes as a POSIX shell reads them, with a backslash before ", \, $ and `.
// Desktop Entry Exec lines and neomutt's settings quote by this very rule.
QString DoubleQuoted(const QString& text);
