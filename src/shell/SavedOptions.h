#pragma once

#include "shell/AppOptions.h"

// Fills the listening port and address from the saved listen setting, except where the command
// line gave them for this run. Reads the settings folder, so it comes after --config-dir.
void ApplySavedListenSetting(AppOptions& options);
