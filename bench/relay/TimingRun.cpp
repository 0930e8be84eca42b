#include "TimingRun.h"

#include "BenchMailbox.h"
#include "ResultTables.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace bench {

namespace {

void WarmUp(const Route& route) {
    Pop3Client client(route.port, route.retryRefused);
    client.LogIn(route.login);
    client.Send("NOOP\r\n");
    if (client.ReadLine() != "+OK") {
        throw std::runtime_error("NOOP through " + route.name + " failed");
    }
    client.Quit();
}

// Routes in a different order every round, so that no route always runs right after another.
std::vector<const Contestant*> Rotated(const std::vector<const Contestant*>& routes, int round) {
    std::vector<const Contestant*> order;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        order.push_back(routes[(i + static_cast<std::size_t>(round)) % routes.size()]);
    }
    return order;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool Wanted(const TimingOptions& options, const std::string& exchange) {
    return options.only.empty() ||
           std::find(options.only.begin(), options.only.end(), exchange) != options.only.end();
}

} // namespace

int RunTimings(const BenchPaths& paths, const TimingOptions& options) {
    const std::string loadAtStart = LoadAverage();
    std::fprintf(stderr, "Generating the mailbox: a %zu MB message and %d UIDs...\n",
                 options.bigMessageMb, options.messageCount);
    const BigMessage big = MakeBigMessage(options.bigMessageMb << 20);
    const std::string uidl = UidlReply(options.messageCount);

    const std::uint16_t serverPort = FreePort();
    auto server = StartServer(paths, serverPort,
                              {"--big-mb", std::to_string(options.bigMessageMb), "--messages",
                               std::to_string(options.messageCount)});

    std::vector<Contestant> contestants;
    contestants.push_back(
        Contestant{Route{RouteDirect, serverPort, LoginStyle::Apop, false}, {}, {}});
    contestants.push_back(StartSocat(paths, serverPort));
    contestants.push_back(StartMinimalRelay(paths, RouteFloor, serverPort));
    contestants.push_back(StartQuorlin(paths, RouteQuorlin, serverPort, "/dev/null", false));
    const std::string logPath = paths.workDir + "/quorlin-headless.log";
    contestants.push_back(StartQuorlin(paths, RouteQuorlinLogFile, serverPort, logPath, false));

    std::string windowNote;
    if (paths.window.empty()) {
        windowNote = "not run (no program with a window was given)";
    } else {
        try {
            contestants.push_back(StartQuorlin(paths, RouteWindow, serverPort, "/dev/null", true));
        } catch (const std::exception& failure) {
            windowNote = std::string("did not start: ") + failure.what();
            std::fprintf(stderr, "Window mode %s\n", windowNote.c_str());
        }
    }

    for (const Contestant& contestant : contestants) {
        WarmUp(contestant.route);
        if (contestant.process) {
            std::fprintf(stderr, "%s: pid %d, port %u\n", contestant.route.name.c_str(),
                         static_cast<int>(contestant.process->Pid()), contestant.route.port);
        }
    }

    std::vector<const Contestant*> everyRoute;
    std::vector<const Contestant*> headlessRoutes;
    for (const Contestant& contestant : contestants) {
        everyRoute.push_back(&contestant);
        if (contestant.route.name != RouteWindow) {
            headlessRoutes.push_back(&contestant);
        }
    }

    const std::vector<const Contestant*> none;
    Measurements results;
    for (int round = 0; round < options.rounds; ++round) {
        std::fprintf(stderr, "Round %d of %d:", round + 1, options.rounds);
        for (const Contestant* c :
             Wanted(options, "retr") ? Rotated(headlessRoutes, round) : none) {
            results.Add(Exchange::Retr, c->route.name, TimeRetr(c->route, big.reply));
        }
        for (const Contestant* c : Wanted(options, "uidl") ? Rotated(everyRoute, round) : none) {
            const UidlTiming timing = TimeUidl(c->route, uidl);
            results.Add(Exchange::Uidl, c->route.name, timing.seconds);
            results.AddUidlGaps(c->route.name, timing);
        }
        for (const Contestant* c :
             Wanted(options, "noop") ? Rotated(headlessRoutes, round) : none) {
            NoopTiming timing = TimeNoops(c->route, options.noops);
            results.Add(Exchange::Noop, c->route.name, timing.seconds);
            results.AddNoopLatencies(c->route.name, timing.latenciesMs);
        }
        for (const Contestant* c :
             Wanted(options, "sessions") ? Rotated(headlessRoutes, round) : none) {
            const SessionsTiming timing = TimeSessions(c->route, options.sessions);
            results.Add(Exchange::Sessions, c->route.name, timing.seconds);
            results.AddRefusedRetries(c->route.name, timing.refusedRetries);
        }
        std::fprintf(stderr, " done\n");
    }

    if (options.printRawTimes) {
        PrintRawTimes(results);
    }
    const std::string loadAtEnd = LoadAverage();
    std::printf("\nMachine: %ld CPUs; load average (1, 5, 15 min) %s at the start, %s at the end. "
                "Other work on the machine widens the spread.\n",
                ::sysconf(_SC_NPROCESSORS_ONLN), loadAtStart.c_str(), loadAtEnd.c_str());
    PrintRatioTable(results, options, windowNote);
    PrintStallTable(results);
    for (const Contestant& contestant : contestants) {
        if (contestant.process && !contestant.process->Running()) {
            throw std::runtime_error(contestant.process->Label() + " ended during the run:\n" +
                                     TailOfFile(contestant.stderrPath));
        }
    }
    return 0;
}

} // namespace bench
