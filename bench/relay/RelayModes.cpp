#include "RelayModes.h"

namespace bench {

namespace {

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

} // namespace

double TimeRetr(const Route& route, const std::string& expectedReply) {
    Pop3Client client(route.port, route.retryRefused, route.tls);
    client.LogIn(route.login);
    const auto start = Clock::now();
    client.Send("RETR 1\r\n");
    client.ReadExactly(expectedReply);
    const double seconds = Seconds(Clock::now() - start);
    client.Quit();
    return seconds;
}

UidlTiming TimeUidl(const Route& route, const std::string& expectedReply) {
    Pop3Client client(route.port, route.retryRefused, route.tls);
    client.LogIn(route.login);
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(1 << 16);
    const auto start = Clock::now();
    client.Send("UIDL\r\n");
    client.ReadExactly(expectedReply, &arrivals);
    UidlTiming timing;
    timing.seconds = Seconds(Clock::now() - start);
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        const double gap = Milliseconds(arrivals[i] - arrivals[i - 1]);
        timing.maxGapMs = std::max(timing.maxGapMs, gap);
        timing.lastGapMs = gap;
    }
    client.Quit();
    return timing;
}

NoopTiming TimeNoops(const Route& route, int count) {
    Pop3Client client(route.port, route.retryRefused, route.tls);
    client.LogIn(route.login);
    NoopTiming timing;
    timing.latenciesMs.reserve(static_cast<std::size_t>(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto sent = Clock::now();
        client.Send("NOOP\r\n");
        const std::string reply = client.ReadLine();
        if (reply != "+OK") {
            throw std::runtime_error("NOOP was answered \"" + reply + "\"");
        }
        timing.latenciesMs.push_back(Milliseconds(Clock::now() - sent));
    }
    timing.seconds = Seconds(Clock::now() - start);
    client.Quit();
    return timing;
}

SessionsTiming TimeSessions(const Route& route, int count) {
    SessionsTiming timing;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        Pop3Client client(route.port, route.retryRefused, route.tls);
        client.LogIn(route.login);
        client.Quit();
        timing.refusedRetries += client.Retries();
    }
    timing.seconds = Seconds(Clock::now() - start);
    return timing;
}

} // namespace bench
