#pragma once

#include "platform/Result.h"
#include "settings/Settings.h"

#include <QString>

// One --account value:
//   LOGIN=HOST[:PORT][,security=tls|starttls|none][,ca=FILE][,pin=SHA256][,user=NAME][,listen=PORT]
// The login name runs to the last "=" before the first comma (so it may hold "@" and spaces);
// an IPv6 host is written in brackets when a port follows. The port defaults to the security's.
// The CA file is only named here; it is read with the other settings.
Result<Account> ParseAccountOption(const QString& text);
