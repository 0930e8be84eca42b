#pragma once

#include "BenchSetup.h"
#include "TimingRun.h"

namespace bench {

// RETR of the big message and UIDL with TLS: a client speaking TLS straight to the benchmark
// server against Quorlin with TLS toward the server (the client plain), toward the client (on
// its TLS port, the server plain, APOP) and on both sides, side by side in one run. Prints a
// markdown table; returns the process exit code.
int RunTlsTimings(const BenchPaths& paths, const TimingOptions& options);

} // namespace bench
