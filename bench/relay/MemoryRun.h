#pragma once

#include "BenchSetup.h"

namespace bench {

struct MemoryOptions {
    std::size_t messageMb = 500;
    std::size_t chunkKiB = 64;
    int pauseMs = 15;
    long limitKiB = 64 * 1024;
};

// A big RETR through Quorlin to a client that reads slowly: prints Quorlin's resident memory
// and whether the message arrived intact. Returns 0 when it did and memory stayed under the
// limit.
int RunMemory(const BenchPaths& paths, const MemoryOptions& options);

} // namespace bench
