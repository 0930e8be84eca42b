#include "TlsRun.h"

#include "BenchMailbox.h"
#include "ResultTables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace bench {

namespace {

const std::string RouteQuorlinTls = "Quorlin (TLS to the server)";
constexpr double RetrTarget = 1.5;

// A self-signed certificate for 127.0.0.1; Quorlin is given it as its CA file, so the
// authority and the host name are checked as for any server.
void MakeCertificate(const std::string& folder) {
    const std::string command =
        "cd '" + folder +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout tls.key -out tls.pem -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("openssl could not make the benchmark certificate");
    }
}

void PrintRow(const Measurements& results, Exchange exchange, const std::string& label,
              double target) {
    const std::vector<double> ratios = results.Ratios(exchange, RouteQuorlinTls);
    const double median = Median(ratios);
    std::printf("| %s | %.1f ms | %.1f ms | %.2f (%.2f–%.2f) | %s | %s |\n", label.c_str(),
                1000 * Median(results.Seconds(exchange, RouteDirect)),
                1000 * Median(results.Seconds(exchange, RouteQuorlinTls)), median,
                *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()),
                target > 0 ? ("≤ " + std::to_string(target).substr(0, 4)).c_str() : "–",
                target > 0 ? (median <= target ? "yes" : "**NO**") : "–");
}

} // namespace

int RunTlsTimings(const BenchPaths& paths, const TimingOptions& options) {
    MakeCertificate(paths.workDir);
    const std::string cert = paths.workDir + "/tls.pem";
    std::fprintf(stderr, "Generating the mailbox: a %zu MB message and %d UIDs...\n",
                 options.bigMessageMb, options.messageCount);
    const BigMessage big = MakeBigMessage(options.bigMessageMb << 20);
    const std::string uidl = UidlReply(options.messageCount);

    const std::uint16_t serverPort = FreePort();
    auto server = StartServer(paths, serverPort,
                              {"--big-mb", std::to_string(options.bigMessageMb), "--messages",
                               std::to_string(options.messageCount), "--tls-cert", cert,
                               "--tls-key", paths.workDir + "/tls.key"});
    Route direct{RouteDirect, serverPort, LoginStyle::UserPass, false, true};
    Contestant quorlin = StartQuorlin(paths, RouteQuorlinTls, serverPort, "/dev/null", false,
                                      {"--security", "tls", "--ca-file", cert});
    const std::vector<Route> routes{direct, quorlin.route};

    Measurements results;
    for (int round = 0; round < options.rounds; ++round) {
        std::fprintf(stderr, "Round %d of %d:", round + 1, options.rounds);
        for (std::size_t i = 0; i < routes.size(); ++i) {
            const Route& route = routes[(i + static_cast<std::size_t>(round)) % routes.size()];
            results.Add(Exchange::Retr, route.name, TimeRetr(route, big.reply));
        }
        for (std::size_t i = 0; i < routes.size(); ++i) {
            const Route& route = routes[(i + static_cast<std::size_t>(round)) % routes.size()];
            results.Add(Exchange::Uidl, route.name, TimeUidl(route, uidl).seconds);
        }
        std::fprintf(stderr, " done\n");
    }
    if (!quorlin.process->Running()) {
        throw std::runtime_error("Quorlin ended during the run:\n" +
                                 TailOfFile(quorlin.stderrPath));
    }
    std::printf("\nTLS toward the server, %d rounds; ratio = Quorlin / direct TLS client of the "
                "same round, median (lowest–highest).\n\n",
                options.rounds);
    std::printf("| Exchange | direct TLS client (median) | Quorlin, TLS to the server (median) "
                "| ratio | target | met |\n|---|---:|---:|---:|---:|:---:|\n");
    PrintRow(results, Exchange::Retr,
             "RETR of one " + std::to_string(options.bigMessageMb) + " MB message", RetrTarget);
    PrintRow(results, Exchange::Uidl,
             "UIDL of " + std::to_string(options.messageCount) + " messages", 0);
    return 0;
}

} // namespace bench
