#pragma once

#include "settings/UnusableSetting.h"

#include <QList>

class SettingsUser;

// Every value of the options file that cannot be used, by the rules its loader reads it with,
// in the order of the file's lines. At start the user is told of them and the defaults stand
// in; a reload that meets one keeps the settings in force.
QList<UnusableSetting> UnusableOptions();

// At start: tells the user of them. An unknown Security is left out: the start stops on it
// (UnknownSavedSecurity).
void ReportUnusableOptions(SettingsUser& user);
