#include "ConcurrentRun.h"

#include "BenchMailbox.h"
#include "Pop3Client.h"
#include "ResultTables.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

// Every client logs in, retrieves the big message, checks it byte for byte and quits; all of
// them start together.
double TimeClientsAtOnce(const Route& route, int clients, const std::string& expectedReply) {
    std::mutex failureLock;
    std::string firstFailure;
    int failures = 0;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(clients));
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            try {
                Pop3Client client(route.port, route.retryRefused);
                client.LogIn(route.login);
                client.Send("RETR 1\r\n");
                client.ReadExactly(expectedReply);
                client.Quit();
            } catch (const std::exception& failure) {
                const std::lock_guard<std::mutex> hold(failureLock);
                if (firstFailure.empty()) {
                    firstFailure = failure.what();
                }
                ++failures;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failures > 0) {
        throw std::runtime_error(route.name + ": " + std::to_string(failures) + " of " +
                                 std::to_string(clients) +
                                 " clients failed, the first with: " + firstFailure);
    }
    return seconds;
}

} // namespace

int RunConcurrent(const BenchPaths& paths, const ConcurrentOptions& options) {
    const BigMessage big = MakeBigMessage(options.messageMb << 20);
    const std::uint16_t serverPort = FreePort();
    auto server = StartServer(paths, serverPort,
                              {"--big-mb", std::to_string(options.messageMb), "--fork", "1"});
    std::vector<Contestant> contestants;
    contestants.push_back(
        Contestant{Route{RouteDirect, serverPort, LoginStyle::Apop, false}, {}, {}});
    contestants.push_back(StartMinimalRelay(paths, RouteFloor, serverPort, true));
    contestants.push_back(StartQuorlin(paths, RouteQuorlin, serverPort, "/dev/null", false,
                                       {"--max-clients", std::to_string(options.clients)}));

    std::map<std::string, std::vector<double>> times;
    std::map<std::string, std::vector<double>> ratios; // to the direct time of the same round
    for (int round = 0; round < options.rounds; ++round) {
        std::map<std::string, double> thisRound;
        for (std::size_t i = 0; i < contestants.size(); ++i) {
            const Route& route = contestants[(i + std::size_t(round)) % contestants.size()].route;
            thisRound[route.name] = TimeClientsAtOnce(route, options.clients, big.reply);
            times[route.name].push_back(thisRound[route.name]);
        }
        for (const auto& [name, seconds] : thisRound) {
            ratios[name].push_back(seconds / thisRound[RouteDirect]);
        }
        std::fprintf(stderr, "round %d of %d done\n", round + 1, options.rounds);
    }

    const double floor = Median(ratios[RouteFloor]);
    const double quorlin = Median(ratios[RouteQuorlin]);
    std::printf("\n%d clients at once, each retrieving a %zu MB message; median of %d rounds\n\n",
                options.clients, options.messageMb, options.rounds);
    std::printf("| route | time (median) | ratio to direct (median) |\n|---|---|---|\n");
    for (const std::string& name : {RouteDirect, RouteFloor, RouteQuorlin}) {
        std::printf("| %s | %.0f ms | %.2f |\n", name.c_str(), Median(times[name]) * 1000,
                    Median(ratios[name]));
    }
    const ResidentMemory memory = ReadResidentMemory(contestants.back().process->Pid());
    std::printf("\nQuorlin's peak resident memory: %.1f MiB\n", memory.peakKiB / 1024.0);
    std::printf("\nQuorlin against the minimal relay: %.2f (target ≤ 1.50: %s)\n", quorlin / floor,
                quorlin / floor <= 1.5 ? "met" : "**NOT MET**");
    return 0;
}

} // namespace bench
