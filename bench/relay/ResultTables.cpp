#include "ResultTables.h"

#include <algorithm>
#include <cstdio>

namespace bench {

namespace {

const std::vector<double> Nothing;

template <typename Map, typename Key>
const std::vector<double>& Lookup(const Map& map, const Key& key) {
    const auto found = map.find(key);
    return found == map.end() ? Nothing : found->second;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "1.23 (1.20–1.31)": the median ratio and the range over the rounds.
std::string RatioCell(const std::vector<double>& ratios) {
    if (ratios.empty()) {
        return "–";
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    return Format("%.2f", Median(ratios)) + " (" + Format("%.2f", *low) + "–" +
           Format("%.2f", *high) + ")";
}

struct Row {
    Exchange exchange;
    std::string label;
    double target;
};

} // namespace

void Measurements::Add(Exchange exchange, const std::string& route, double value) {
    seconds[{exchange, route}].push_back(value);
}

void Measurements::AddUidlGaps(const std::string& route, const UidlTiming& timing) {
    uidlMaxGaps[route].push_back(timing.maxGapMs);
    uidlLastGaps[route].push_back(timing.lastGapMs);
}

void Measurements::AddNoopLatencies(const std::string& route,
                                    const std::vector<double>& latenciesMs) {
    auto& all = noopLatencies[route];
    all.insert(all.end(), latenciesMs.begin(), latenciesMs.end());
}

void Measurements::AddRefusedRetries(const std::string& route, int retries) {
    refusedRetries[route] += retries;
}

const std::vector<double>& Measurements::Seconds(Exchange exchange,
                                                 const std::string& route) const {
    return Lookup(seconds, std::make_pair(exchange, route));
}

std::vector<double> Measurements::Ratios(Exchange exchange, const std::string& route) const {
    const std::vector<double>& direct = Seconds(exchange, RouteDirect);
    const std::vector<double>& relayed = Seconds(exchange, route);
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(direct.size(), relayed.size()); ++i) {
        ratios.push_back(relayed[i] / direct[i]);
    }
    return ratios;
}

const std::vector<double>& Measurements::UidlMaxGaps(const std::string& route) const {
    return Lookup(uidlMaxGaps, route);
}

const std::vector<double>& Measurements::UidlLastGaps(const std::string& route) const {
    return Lookup(uidlLastGaps, route);
}

const std::vector<double>& Measurements::NoopLatencies(const std::string& route) const {
    return Lookup(noopLatencies, route);
}

int Measurements::RefusedRetries(const std::string& route) const {
    const auto found = refusedRetries.find(route);
    return found == refusedRetries.end() ? 0 : found->second;
}

bool Measurements::Has(const std::string& route) const {
    return !Seconds(Exchange::Uidl, route).empty();
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void PrintRatioTable(const Measurements& results, const TimingOptions& options,
                     const std::string& windowNote) {
    const std::vector<Row> rows{
        {Exchange::Retr, "(a) RETR of one " + std::to_string(options.bigMessageMb) + " MB message",
         1.5},
        {Exchange::Uidl, "(b) UIDL of " + std::to_string(options.messageCount) + " messages", 3.0},
        {Exchange::Noop, "(c) " + std::to_string(options.noops) + " NOOP round trips", 1.25},
        {Exchange::Sessions,
         "(d) " + std::to_string(options.sessions) + " connect, login, QUIT sessions", 2.5},
    };
    std::printf("\nTime relative to the direct run of the same round: median of %d rounds "
                "(lowest–highest).\n\n",
                options.rounds);
    std::printf("| Exchange | direct (median) | %s | %s | %s | %s | %s | target for %s | met |\n",
                RouteSocat.c_str(), RouteFloor.c_str(), RouteQuorlin.c_str(),
                RouteQuorlinLogFile.c_str(), RouteWindow.c_str(), RouteQuorlin.c_str());
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
    for (const Row& row : rows) {
        if (results.Seconds(row.exchange, RouteDirect).empty()) {
            continue; // left out with --only
        }
        const double direct = Median(results.Seconds(row.exchange, RouteDirect));
        const double ratio = Median(results.Ratios(row.exchange, RouteQuorlin));
        std::string window = RatioCell(results.Ratios(row.exchange, RouteWindow));
        if (row.exchange == Exchange::Uidl && !windowNote.empty()) {
            window = "not measured ¹";
        }
        std::printf("| %s | %s ms | %s | %s | %s | %s | %s | ≤ %.2f | %s |\n", row.label.c_str(),
                    Format(direct < 0.01 ? "%.2f" : "%.1f", direct * 1000).c_str(),
                    RatioCell(results.Ratios(row.exchange, RouteSocat)).c_str(),
                    RatioCell(results.Ratios(row.exchange, RouteFloor)).c_str(),
                    RatioCell(results.Ratios(row.exchange, RouteQuorlin)).c_str(),
                    RatioCell(results.Ratios(row.exchange, RouteQuorlinLogFile)).c_str(),
                    window.c_str(), row.target, ratio <= row.target ? "yes" : "**NO**");
    }
    if (!windowNote.empty()) {
        std::printf("\n¹ Window mode %s\n", windowNote.c_str());
    }
    const int retries = results.RefusedRetries(RouteQuorlin);
    std::printf("\nConnections to Quorlin refused: %d in all sessions of all rounds (none is "
                "retried: a refusal would have ended the benchmark).\n",
                retries);
}

void PrintRawTimes(const Measurements& results) {
    const std::pair<Exchange, const char*> exchanges[] = {{Exchange::Retr, "RETR"},
                                                          {Exchange::Uidl, "UIDL"},
                                                          {Exchange::Noop, "NOOP"},
                                                          {Exchange::Sessions, "sessions"}};
    for (const auto& [exchange, name] : exchanges) {
        for (const std::string& route : {RouteDirect, RouteSocat, RouteFloor, RouteQuorlin,
                                         RouteQuorlinLogFile, RouteWindow}) {
            const std::vector<double>& times = results.Seconds(exchange, route);
            if (times.empty()) {
                continue;
            }
            std::fprintf(stderr, "%-8s %-30s", name, route.c_str());
            for (const double seconds : times) {
                std::fprintf(stderr, " %.2f", seconds * 1000);
            }
            std::fprintf(stderr, " (ms)\n");
        }
    }
}

void PrintStallTable(const Measurements& results) {
    std::printf("\nNo stalls: reply latency per route, all rounds together. A relay caught by "
                "Nagle's algorithm and delayed ACKs shows pauses of about 40 ms.\n\n");
    std::printf("| Route | NOOP median | NOOP 99th percentile | NOOP slowest | NOOPs over 20 ms | "
                "UIDL longest pause between pieces (median of rounds) | (worst round) | "
                "UIDL pause before the last piece (median) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string& route :
         {RouteDirect, RouteSocat, RouteFloor, RouteQuorlin, RouteQuorlinLogFile, RouteWindow}) {
        if (!results.Has(route)) {
            continue;
        }
        const std::vector<double>& noops = results.NoopLatencies(route);
        const std::vector<double>& gaps = results.UidlMaxGaps(route);
        const auto over =
            std::count_if(noops.begin(), noops.end(), [](double ms) { return ms > 20; });
        const std::string noopCells = noops.empty()
                                          ? std::string("– | – | – | –")
                                          : Format("%.3f ms", Median(noops)) + " | " +
                                                Format("%.3f ms", Percentile(noops, 0.99)) + " | " +
                                                Format("%.1f ms", Percentile(noops, 1.0)) + " | " +
                                                std::to_string(over);
        std::printf("| %s | %s | %s | %s | %s |\n", route.c_str(), noopCells.c_str(),
                    Format("%.1f ms", Median(gaps)).c_str(),
                    Format("%.1f ms", Percentile(gaps, 1.0)).c_str(),
                    Format("%.1f ms", Median(results.UidlLastGaps(route))).c_str());
    }
}

} // namespace bench
