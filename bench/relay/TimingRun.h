#pragma once

#include "BenchSetup.h"

#include <string>
#include <vector>

namespace bench {

struct TimingOptions {
    int rounds = 31;
    std::size_t bigMessageMb = 200;
    int messageCount = 100'000;
    int noops = 1000;
    int sessions = 200;
    // Empty: all four; otherwise only the exchanges named ("retr", "uidl", "noop", "sessions").
    std::vector<std::string> only;
    bool printRawTimes = false;
};

// Runs every exchange through every route, several rounds interleaved, and prints the ratio
// table and the stall table as markdown. Returns the process exit code: 0 when every reply was
// correct (targets missed or not), 1 when a run failed.
int RunTimings(const BenchPaths& paths, const TimingOptions& options);

} // namespace bench
