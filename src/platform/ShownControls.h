#pragma once

#include <QString>
#include <QStringView>

// Control characters in wire text shown to a person: C0 controls other than tab, and DEL (code
// page 932 decodes no byte to a C1 control). Passed on as they are, a server's or a client's
// line could clear or retitle the user's terminal, or hide part of itself.

// For a terminal: CR and LF as "\r" and "\n", the others as "\x1b"-style hex escapes.
QString EscapedControls(QStringView text);

// For the window's lists: Unicode's control pictures (U+2400 to U+241F, and U+2421 for DEL).
QString ControlPictures(QString text);
