#include "MemoryRun.h"

#include "BenchMailbox.h"
#include "ResultTables.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

struct ServerReport {
    std::size_t bytes = 0;
    std::string md5;
};

// The server appends its line once the whole reply is written; it may lag the client a little.
ServerReport WaitForServerReport(const std::string& path) {
    for (int waited = 0; waited < 500; ++waited) {
        std::ifstream file(path);
        std::string word;
        ServerReport report;
        if (file >> word >> word >> report.bytes >> report.md5) {
            return report;
        }
        ::poll(nullptr, 0, 20);
    }
    throw std::runtime_error("the benchmark server reported no RETR");
}

std::string Megabytes(double kib) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", kib / 1024.0);
    return text;
}

} // namespace

int RunMemory(const BenchPaths& paths, const MemoryOptions& options) {
    const std::string reportPath = paths.workDir + "/server-report.txt";
    const std::uint16_t serverPort = FreePort();
    std::fprintf(stderr, "Starting the benchmark server with a %zu MB message...\n",
                 options.messageMb);
    auto server = StartServer(
        paths, serverPort,
        {"--big-mb", std::to_string(options.messageMb), "--messages", "2", "--report", reportPath});
    Contestant quorlin = StartQuorlin(paths, RouteQuorlin, serverPort, "/dev/null", false);
    const pid_t pid = quorlin.process->Pid();
    const ResidentMemory atStart = ReadResidentMemory(pid);

    Pop3Client client(quorlin.route.port, true);
    client.LogIn(quorlin.route.login);
    Md5Stream received;
    std::size_t receivedBytes = 0;
    long highestSampleKiB = 0;
    auto lastSample = Clock::time_point{};
    auto lastProgress = Clock::now();
    const auto start = Clock::now();
    std::fprintf(stderr, "Reading RETR 1 at %zu KiB every %d ms...\n", options.chunkKiB,
                 options.pauseMs);
    client.Send("RETR 1\r\n");
    client.ReadMultiLineSlowly(
        options.chunkKiB * 1024, options.pauseMs,
        [&](const char* data, std::size_t size) {
            received.Add(data, size);
            receivedBytes += size;
        },
        [&] {
            const auto now = Clock::now();
            if (now - lastSample >= std::chrono::milliseconds(200)) {
                lastSample = now;
                highestSampleKiB = std::max(highestSampleKiB, ReadResidentMemory(pid).currentKiB);
            }
            if (now - lastProgress >= std::chrono::seconds(15)) {
                lastProgress = now;
                std::fprintf(stderr, "  %zu MB received, Quorlin resident %s\n",
                             receivedBytes >> 20,
                             Megabytes(ReadResidentMemory(pid).currentKiB).c_str());
            }
        });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.Quit();
    const ResidentMemory atEnd = ReadResidentMemory(pid);
    if (!quorlin.process->Running()) {
        throw std::runtime_error("Quorlin ended during the run:\n" +
                                 TailOfFile(quorlin.stderrPath));
    }

    const ServerReport sent = WaitForServerReport(reportPath);
    const std::string receivedMd5 = received.FinishHex();
    const bool intact = sent.bytes == receivedBytes && sent.md5 == receivedMd5;
    // The kernel updates VmHWM only at some points, so a short peak can show in a sample and
    // not in it: the higher of the two counts.
    const long peakKiB = std::max(atEnd.peakKiB, highestSampleKiB);
    const bool bounded = peakKiB > 0 && peakKiB < options.limitKiB;

    std::printf("\nSlow client, RETR of a %zu MB message through Quorlin headless "
                "(client reads %zu KiB, then waits %d ms).\n\n",
                options.messageMb, options.chunkKiB, options.pauseMs);
    std::printf("| Figure | Value |\n|---|---|\n");
    std::printf("| bytes the server sent (reply with status line and terminator) | %zu |\n",
                sent.bytes);
    std::printf("| bytes the client received | %zu |\n", receivedBytes);
    std::printf("| MD5 sent / received | %s / %s |\n", sent.md5.c_str(), receivedMd5.c_str());
    std::printf("| intact | %s |\n", intact ? "yes" : "**NO**");
    std::printf("| duration, client rate | %.1f s, %.1f MB/s |\n", seconds,
                static_cast<double>(receivedBytes) / seconds / (1 << 20));
    std::printf("| Quorlin resident memory after start-up (VmRSS) | %s |\n",
                Megabytes(static_cast<double>(atStart.currentKiB)).c_str());
    std::printf("| highest VmRSS sampled during the RETR (every 200 ms) | %s |\n",
                Megabytes(static_cast<double>(highestSampleKiB)).c_str());
    std::printf("| Quorlin peak resident memory (VmHWM at the end) | %s |\n",
                Megabytes(static_cast<double>(atEnd.peakKiB)).c_str());
    std::printf("| Quorlin peak resident memory, the higher of the two | **%s** (limit %s): %s |\n",
                Megabytes(static_cast<double>(peakKiB)).c_str(),
                Megabytes(static_cast<double>(options.limitKiB)).c_str(),
                bounded ? "met" : "**NOT MET**");
    return intact && bounded ? 0 : 1;
}

} // namespace bench
