#pragma once

#include "shell/AppOptions.h"

#include <QStringList>
#include <optional>

// True when this run has no window: asked for with --headless, or no display to show one on.
bool WantsHeadless(int argc, char** argv);

// Parses the options of this run. --help and --version print and exit inside; a bad value
// prints the reason to standard error and gives nullopt.
std::optional<AppOptions> ParseCommandLine(const QStringList& arguments);
