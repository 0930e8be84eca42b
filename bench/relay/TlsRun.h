#pragma once

#include "BenchSetup.h"
#include "TimingRun.h"

namespace bench {

// RETR of the big message and UIDL with TLS toward the server: a client speaking TLS straight
// to the benchmark server against Quorlin (plain toward the client, TLS toward the server),
// side by side in one run. Prints a markdown table; returns the process exit code.
int RunTlsTimings(const BenchPaths& paths, const TimingOptions& options);

} // namespace bench
