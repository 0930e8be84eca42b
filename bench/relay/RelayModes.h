#pragma once

// The four timed exchanges, each run against one route (the server itself, or a relay in front
// of it). Every reply is checked byte for byte; a wrong byte or a failed login throws.

#include "Pop3Client.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Route {
    std::string name;
    std::uint16_t port = 0;
    LoginStyle login = LoginStyle::Apop;
    bool retryRefused = false; // tried again (and counted) when a connection is refused
    bool tls = false;          // the client speaks TLS to this route
};

struct UidlTiming {
    double seconds = 0;
    double maxGapMs = 0;  // longest pause between two pieces of the reply
    double lastGapMs = 0; // the pause before the last piece, where a Nagle stall shows
};

struct NoopTiming {
    double seconds = 0;
    std::vector<double> latenciesMs;
};

struct SessionsTiming {
    double seconds = 0;
    int refusedRetries = 0;
};

// Only the command and its reply are timed; connecting and logging in are not.
double TimeRetr(const Route& route, const std::string& expectedReply);
UidlTiming TimeUidl(const Route& route, const std::string& expectedReply);
NoopTiming TimeNoops(const Route& route, int count);
// Connect, log in, QUIT, close: the whole of each session is timed.
SessionsTiming TimeSessions(const Route& route, int count);

} // namespace bench
