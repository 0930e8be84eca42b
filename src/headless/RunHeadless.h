#pragma once

#include "app/AppOptions.h"

// The relay without a window, logging to standard output, until it is ended; the exit status.
int RunHeadless(const AppOptions& options);
