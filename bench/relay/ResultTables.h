#pragma once

// Collects the timings of a run and prints them as markdown tables.

#include "RelayModes.h"
#include "TimingRun.h"

#include <map>
#include <string>
#include <vector>

namespace bench {

inline const std::string RouteDirect = "direct";
inline const std::string RouteSocat = "socat";
inline const std::string RouteFloor = "minimal relay (floor)";
inline const std::string RouteQuorlin = "Quorlin headless";
inline const std::string RouteQuorlinLogFile = "Quorlin headless, log to file";
inline const std::string RouteWindow = "Quorlin window (offscreen)";

enum class Exchange { Retr, Uidl, Noop, Sessions };

class Measurements {
public:
    // Called once per round and route, in round order.
    void Add(Exchange exchange, const std::string& route, double seconds);
    void AddUidlGaps(const std::string& route, const UidlTiming& timing);
    void AddNoopLatencies(const std::string& route, const std::vector<double>& latenciesMs);
    void AddRefusedRetries(const std::string& route, int retries);

    const std::vector<double>& Seconds(Exchange exchange, const std::string& route) const;
    // Round by round, the route's time over the direct time of the same round.
    std::vector<double> Ratios(Exchange exchange, const std::string& route) const;
    const std::vector<double>& UidlMaxGaps(const std::string& route) const;
    const std::vector<double>& UidlLastGaps(const std::string& route) const;
    const std::vector<double>& NoopLatencies(const std::string& route) const;
    int RefusedRetries(const std::string& route) const;
    bool Has(const std::string& route) const;

private:
    std::map<std::pair<Exchange, std::string>, std::vector<double>> seconds;
    std::map<std::string, std::vector<double>> uidlMaxGaps;
    std::map<std::string, std::vector<double>> uidlLastGaps;
    std::map<std::string, std::vector<double>> noopLatencies;
    std::map<std::string, int> refusedRetries;
};

double Median(std::vector<double> values);

void PrintRatioTable(const Measurements& results, const TimingOptions& options,
                     const std::string& windowNote);
void PrintStallTable(const Measurements& results);
// Every round's time per route, for a closer look at the spread.
void PrintRawTimes(const Measurements& results);

} // namespace bench
