#pragma once

#include "platform/TlsTrust.h"

#include <QList>
#include <QString>

// A value of the options file that cannot be used, where it is and why, so that each user of it
// can word it in its own language (standard error in English, the window in Japanese).
struct UnusableSetting {
    enum class Why {
        FileFormat,    // a line that is no [Section] and no Key=Value
        NoMode,        // Security names no way to reach the mail server
        NotASwitch,    // a switch that is not true/false, yes/no, on/off, 1/0
        NotAPort,      // not from 1 to 65535
        NotANumber,    // not a whole number from 1 to `most`
        NotAnAddress,  // not an IP address
        NoFingerprint, // a trusted certificate that is no SHA-256 fingerprint
        // An account's section, left out:
        NoLoginName,      // without Login
        NoHost,           // without Host
        LoginTaken,       // its Login is an earlier section's
        AccountNoMode,    // Security names no way to reach its server
        UnreadableCaFile, // its CaFile cannot be read (the account is kept, without it)
    };
    Why why = Why::FileFormat;
    int line = 0;  // from 1; 0 where no line holds it as written
    QString entry; // the line, or Key=Value where the line is not known
    int most = 0;  // NotANumber
    FingerprintProblem fingerprint;
    QString systemReason; // UnreadableCaFile: as the system gave it; empty: no certificate in it
};

// "line 3: Port=abc: not a port (1 to 65535)", one line each, for standard error.
QString EnglishReason(const UnusableSetting& setting);
QString UnusableSettingsReport(const QString& path, const QList<UnusableSetting>& settings);
