#pragma once

#include "app/AppOptions.h"

// The options of this run with the listening port and address from the saved listen setting,
// except where the command line gave them. Reads the settings folder (--config-dir, or the
// program's), so it needs the application object.
AppOptions WithSavedListenSetting(AppOptions options);
