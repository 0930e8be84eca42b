#include "TlsRun.h"

#include "BenchMailbox.h"
#include "ResultTables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace bench {

namespace {

const std::string RouteToServer = "Quorlin, TLS to the server";
const std::string RouteFromClient = "Quorlin, TLS from the client";
const std::string RouteBothSides = "Quorlin, TLS on both sides";
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
              const std::string& route, double target) {
    const std::vector<double> ratios = results.Ratios(exchange, route);
    const double median = Median(ratios);
    std::printf("| %s | %s | %.1f ms | %.1f ms | %.2f (%.2f–%.2f) | %s | %s |\n", label.c_str(),
                route.c_str(), 1000 * Median(results.Seconds(exchange, RouteDirect)),
                1000 * Median(results.Seconds(exchange, route)), median,
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

    const std::vector<std::string> mailbox{"--big-mb", std::to_string(options.bigMessageMb),
                                           "--messages", std::to_string(options.messageCount)};
    std::vector<std::string> tlsMailbox = mailbox;
    tlsMailbox.insert(tlsMailbox.end(),
                      {"--tls-cert", cert, "--tls-key", paths.workDir + "/tls.key"});
    const std::uint16_t serverPort = FreePort();
    auto server = StartServer(paths, serverPort, tlsMailbox);
    const std::uint16_t plainServerPort = FreePort();
    auto plainServer = StartServer(paths, plainServerPort, mailbox, "plain-server");

    const std::vector<std::string> toServer{"--security", "tls", "--ca-file", cert};
    // Quorlin's own certificate toward the client, made in its settings folder; the benchmark
    // client does not check it.
    const auto fromClient = [](std::vector<std::string> arguments, std::uint16_t& port) {
        port = FreePort();
        arguments.insert(arguments.end(), {"--client-tls-port", std::to_string(port)});
        return arguments;
    };
    std::uint16_t fromClientPort = 0;
    std::uint16_t bothSidesPort = 0;
    std::vector<Contestant> quorlins;
    quorlins.push_back(
        StartQuorlin(paths, RouteToServer, serverPort, "/dev/null", false, toServer));
    quorlins.push_back(StartQuorlin(paths, RouteFromClient, plainServerPort, "/dev/null", false,
                                    fromClient({}, fromClientPort)));
    quorlins.push_back(StartQuorlin(paths, RouteBothSides, serverPort, "/dev/null", false,
                                    fromClient(toServer, bothSidesPort)));
    quorlins[1].route.port = fromClientPort;
    quorlins[2].route.port = bothSidesPort;
    quorlins[1].route.tls = quorlins[2].route.tls = true;

    std::vector<Route> routes{Route{RouteDirect, serverPort, LoginStyle::UserPass, false, true}};
    for (const Contestant& quorlin : quorlins) {
        routes.push_back(quorlin.route);
    }

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
    for (const Contestant& quorlin : quorlins) {
        if (!quorlin.process->Running()) {
            throw std::runtime_error("Quorlin ended during the run:\n" +
                                     TailOfFile(quorlin.stderrPath));
        }
    }
    std::printf("\nTLS, %d rounds; ratio = Quorlin / direct TLS client of the same round, "
                "median (lowest–highest).\n\n",
                options.rounds);
    std::printf("| Exchange | Route | direct TLS client (median) | route (median) | ratio | "
                "target | met |\n|---|---|---:|---:|---:|---:|:---:|\n");
    const std::string retrLabel =
        "RETR of one " + std::to_string(options.bigMessageMb) + " MB message";
    const std::string uidlLabel = "UIDL of " + std::to_string(options.messageCount) + " messages";
    for (const Contestant& quorlin : quorlins) {
        PrintRow(results, Exchange::Retr, retrLabel, quorlin.route.name,
                 quorlin.route.name == RouteBothSides ? 0 : RetrTarget);
    }
    for (const Contestant& quorlin : quorlins) {
        PrintRow(results, Exchange::Uidl, uidlLabel, quorlin.route.name, 0);
    }
    return 0;
}

} // namespace bench
