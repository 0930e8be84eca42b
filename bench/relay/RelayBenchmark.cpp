// Measures Quorlin as a relay: the same POP3 exchanges straight to a fast server, through socat
// and through Quorlin, side by side in one run; or, with --memory, Quorlin's resident memory
// while a slow client takes a big message.
//
//   bench_relay --quorlin PATH [--window PATH | --no-window] [--rounds N] [--big-mb N]
//               [--messages N] [--noops N] [--sessions N] [--only retr,uidl,noop,sessions]
//               [--raw] (every round's times on standard error)
//   bench_relay --quorlin PATH --memory [--memory-mb N] [--chunk-kb N] [--pause-ms N]
//   bench_relay --quorlin PATH --concurrent [--clients N] [--concurrent-mb N]
//               [--concurrent-rounds N]
//   bench_relay --quorlin PATH --tls [--rounds N] [--big-mb N] [--messages N]
//               (RETR and UIDL with TLS toward the server, the client or both, Quorlin
//               against a direct TLS client)
//
// Common: [--server PATH] (default: pop3_bench_server beside this program), [--socat PATH],
// [--keep] (leave the scratch folder with logs and error output).

#include "ConcurrentRun.h"
#include "MemoryRun.h"
#include "TimingRun.h"
#include "TlsRun.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

struct Options {
    bench::BenchPaths paths;
    bench::TimingOptions timing;
    bench::MemoryOptions memory;
    bench::ConcurrentOptions concurrent;
    bool memoryRun = false;
    bool concurrentRun = false;
    bool tlsRun = false;
    bool noWindow = false;
    bool keep = false;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_relay: %s\n"
                 "usage: bench_relay --quorlin PATH [--window PATH | --no-window] [--rounds N]\n"
                 "                   [--big-mb N] [--messages N] [--noops N] [--sessions N]\n"
                 "                   [--only retr,uidl,noop,sessions] [--raw]\n"
                 "       bench_relay --quorlin PATH --memory [--memory-mb N] [--chunk-kb N] "
                 "[--pause-ms N]\n"
                 "       bench_relay --quorlin PATH --concurrent [--clients N] "
                 "[--concurrent-mb N] [--concurrent-rounds N]\n"
                 "       bench_relay --quorlin PATH --tls [--rounds N] [--big-mb N] "
                 "[--messages N]\n"
                 "       common: [--server PATH] [--socat PATH] [--keep]\n",
                 problem.c_str());
    std::exit(2);
}

long Number(const char* text, const std::string& option) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value <= 0) {
        Usage(option + " needs a positive number");
    }
    return value;
}

Options Parse(int argc, char** argv) {
    Options options;
    options.paths.socat = "/usr/bin/socat";
    const std::filesystem::path here =
        std::filesystem::read_symlink("/proc/self/exe").parent_path();
    options.paths.server = (here / "pop3_bench_server").string();
    options.paths.minimalRelay = (here / "minimal_relay").string();
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--memory") {
            options.memoryRun = true;
            continue;
        }
        if (name == "--concurrent") {
            options.concurrentRun = true;
            continue;
        }
        if (name == "--tls") {
            options.tlsRun = true;
            continue;
        }
        if (name == "--no-window") {
            options.noWindow = true;
            continue;
        }
        if (name == "--raw") {
            options.timing.printRawTimes = true;
            continue;
        }
        if (name == "--keep") {
            options.keep = true;
            continue;
        }
        if (i + 1 >= argc) {
            Usage(name + " needs a value");
        }
        const char* value = argv[++i];
        if (name == "--quorlin") {
            options.paths.quorlin = value;
        } else if (name == "--window") {
            options.paths.window = value;
        } else if (name == "--server") {
            options.paths.server = value;
        } else if (name == "--socat") {
            options.paths.socat = value;
        } else if (name == "--rounds") {
            options.timing.rounds = static_cast<int>(Number(value, name));
        } else if (name == "--big-mb") {
            options.timing.bigMessageMb = static_cast<std::size_t>(Number(value, name));
        } else if (name == "--messages") {
            options.timing.messageCount = static_cast<int>(Number(value, name));
        } else if (name == "--noops") {
            options.timing.noops = static_cast<int>(Number(value, name));
        } else if (name == "--sessions") {
            options.timing.sessions = static_cast<int>(Number(value, name));
        } else if (name == "--only") {
            std::string list = value;
            for (std::size_t start = 0; start <= list.size();) {
                const std::size_t comma = std::min(list.find(',', start), list.size());
                const std::string exchange = list.substr(start, comma - start);
                if (exchange != "retr" && exchange != "uidl" && exchange != "noop" &&
                    exchange != "sessions") {
                    Usage("--only takes retr, uidl, noop, sessions");
                }
                options.timing.only.push_back(exchange);
                start = comma + 1;
            }
        } else if (name == "--clients") {
            options.concurrent.clients = static_cast<int>(Number(value, name));
        } else if (name == "--concurrent-mb") {
            options.concurrent.messageMb = static_cast<std::size_t>(Number(value, name));
        } else if (name == "--concurrent-rounds") {
            options.concurrent.rounds = static_cast<int>(Number(value, name));
        } else if (name == "--memory-mb") {
            options.memory.messageMb = static_cast<std::size_t>(Number(value, name));
        } else if (name == "--chunk-kb") {
            options.memory.chunkKiB = static_cast<std::size_t>(Number(value, name));
        } else if (name == "--pause-ms") {
            options.memory.pauseMs = static_cast<int>(Number(value, name));
        } else {
            Usage("unknown option " + name);
        }
    }
    if (options.paths.quorlin.empty()) {
        Usage("--quorlin is required");
    }
    if (options.paths.window.empty() && !options.noWindow) {
        options.paths.window = options.paths.quorlin;
    }
    if (options.noWindow) {
        options.paths.window.clear();
    }
    for (const std::string* program : {&options.paths.quorlin, &options.paths.server,
                                       &options.paths.socat, &options.paths.minimalRelay}) {
        if (::access(program->c_str(), X_OK) != 0) {
            Usage("cannot run " + *program);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    Options options = Parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);

    char scratch[] = "/tmp/quorlin-bench-XXXXXX";
    if (!::mkdtemp(scratch)) {
        std::perror("bench_relay: mkdtemp");
        return 1;
    }
    options.paths.workDir = scratch;

    int status = 1;
    try {
        status = options.concurrentRun ? bench::RunConcurrent(options.paths, options.concurrent)
                 : options.memoryRun   ? bench::RunMemory(options.paths, options.memory)
                 : options.tlsRun      ? bench::RunTlsTimings(options.paths, options.timing)
                                       : bench::RunTimings(options.paths, options.timing);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "\nbench_relay: FAILED: %s\n", failure.what());
        const std::string serverErrors =
            bench::TailOfFile(options.paths.workDir + "/server.stderr");
        std::fprintf(stderr, "Benchmark server error output: %s\n", serverErrors.c_str());
        options.keep = true;
    }
    if (options.keep) {
        std::fprintf(stderr, "Logs and error output are kept in %s\n", scratch);
    } else {
        std::filesystem::remove_all(scratch);
    }
    return status;
}
