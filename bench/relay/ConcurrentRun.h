#pragma once

#include "BenchSetup.h"

#include <cstddef>

namespace bench {

struct ConcurrentOptions {
    int clients = 50;
    std::size_t messageMb = 8;
    int rounds = 5;
};

// Many clients retrieving at once: the wall time until the last of them has its message,
// straight to the server (which serves each connection in a process of its own), through the
// minimal relay (likewise) and through one Quorlin serving them all. Prints a markdown table;
// returns 0 when every reply was correct.
int RunConcurrent(const BenchPaths& paths, const ConcurrentOptions& options);

} // namespace bench
