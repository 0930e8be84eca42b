#pragma once

#include "app/AppOptions.h"

// The window, its tray icon and the relay, until the user ends the program; the exit status.
int RunDisplay(const AppOptions& options);
