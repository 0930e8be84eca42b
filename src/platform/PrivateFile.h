#pragma once

#include "platform/ProgramFiles.h"

// WriteBytes for a file only its owner may read (a private key): the new content is in a file
// of mode 0600 from the moment it is created, not made so afterwards, since someone who opens
// the file while it is readable keeps reading it after the mode changes.
Result<> WritePrivateBytes(const QString& path, const QByteArray& content);
