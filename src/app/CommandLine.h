#pragma once

#include "app/AppOptions.h"

#include <QStringList>
#include <optional>

// Parses the options of this run, before any application object exists: whether the run is
// headless (asked for with --headless, or no display to show a window on) decides which one is
// made. --help and --version print and exit inside; a bad value prints the reason to standard
// error and gives nullopt.
std::optional<AppOptions> ParseCommandLine(const QStringList& arguments);
