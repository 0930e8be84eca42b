#pragma once

#include "app/AppOptions.h"
#include "relay/Relay.h"

// The relay's options for this run: the command line first, then the options file, then the
// built-in defaults.
Relay::Options RelayOptionsFor(const AppOptions& options);
