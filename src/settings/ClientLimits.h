#pragma once

#include <optional>

// The limits on mail clients kept in the options file, section [Clients]: Limit (clients served
// at once) and IdleTimeoutSeconds (how long a client may stay silent). A missing key, or a value
// that is not a whole number of at least 1, leaves the choice to the caller.
struct ClientLimits {
    std::optional<int> maxClients;
    std::optional<int> idleTimeoutSeconds;
};

ClientLimits ReadClientLimits();

inline constexpr int DefaultMaxClients = 10;
inline constexpr int MaxClientLimit = 100000;
// RFC 1939 asks for at least ten minutes before an idle client is logged out.
inline constexpr int DefaultIdleTimeoutMs = 600 * 1000;
// The largest idle timeout kept to the millisecond in an int.
inline constexpr int MaxIdleTimeoutSeconds = 2'000'000;
