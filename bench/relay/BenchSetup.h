#pragma once

// Starting what a run needs: the benchmark server, socat and Quorlin in its modes, each on a
// port of its own, with files in one scratch folder.

#include "ChildProcess.h"
#include "RelayModes.h"

#include <memory>
#include <string>
#include <vector>

namespace bench {

struct BenchPaths {
    std::string server;       // pop3_bench_server
    std::string minimalRelay; // minimal_relay, the floor for any relay
    std::string socat;        // socat
    std::string quorlin;      // the program, run with --headless
    std::string window;       // the program without --headless, under offscreen; empty: not run
    std::string workDir;      // scratch folder: config folders, logs, stderr of every child
};

// A route with the process behind it (none for the direct route).
struct Contestant {
    Route route;
    std::unique_ptr<ChildProcess> process;
    std::string stderrPath;
};

// name: for the file of its error output, when more than one server runs.
std::unique_ptr<ChildProcess> StartServer(const BenchPaths& paths, std::uint16_t port,
                                          const std::vector<std::string>& extraArguments,
                                          const std::string& name = "server");

Contestant StartSocat(const BenchPaths& paths, std::uint16_t serverPort);
// concurrent: each client is relayed in a process of its own, so that many are served at once.
Contestant StartMinimalRelay(const BenchPaths& paths, const std::string& name,
                             std::uint16_t serverPort, bool concurrent = false);

// stdoutPath receives Quorlin's log; window runs the program without --headless.
// extraArguments: more options, such as --security tls.
Contestant StartQuorlin(const BenchPaths& paths, const std::string& name, std::uint16_t serverPort,
                        const std::string& stdoutPath, bool window,
                        const std::vector<std::string>& extraArguments = {});

// The last lines a child wrote to its error output, to explain why it failed.
std::string TailOfFile(const std::string& path, std::size_t maxBytes = 2000);

} // namespace bench
