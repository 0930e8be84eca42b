#pragma once

// A blocking POP3 client connection with bounded waits: every read gives up after a timeout
// instead of hanging the benchmark.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace bench {

using Clock = std::chrono::steady_clock;

// APOP straight to the server, or USER and PASS to a relay that turns them into APOP.
enum class LoginStyle { Apop, UserPass };

class Pop3Client {
public:
    // A relay that serves one client at a time listens again only once the last client has
    // gone, so a connection made right after the previous one closed can be refused; with
    // retryRefused it is tried again for a while and the retries are counted.
    // With tls the connection is TLS from the first byte (the benchmark's own server and
    // certificate on loopback: the certificate is not checked).
    Pop3Client(std::uint16_t port, bool retryRefused, bool tls = false);
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    int Retries() const { return retries; }

    // Reads the greeting and logs in; throws when the server or the relay refuses.
    void LogIn(LoginStyle style);
    void Quit();

    void Send(std::string_view bytes);
    std::string ReadLine(); // without CR LF

    // Reads exactly expected.size() bytes and checks them against expected; the time each
    // piece arrived is appended to arrivals when given.
    void ReadExactly(std::string_view expected, std::vector<Clock::time_point>* arrivals = nullptr);

    // Reads a multi-line reply up to and including its terminating line, at most chunkBytes at
    // a time, pausing pauseMs between reads; every piece goes to sink, and onPause runs at
    // every pause.
    void ReadMultiLineSlowly(std::size_t chunkBytes, int pauseMs,
                             const std::function<void(const char*, std::size_t)>& sink,
                             const std::function<void()>& onPause);

    static constexpr int TimeoutMs = 60'000;
    static constexpr long RefusedBackOffNs = 20'000;

private:
    void WaitReadable(int timeoutMs);
    long Receive(char* buffer, std::size_t size);

    int fd = -1;
    ssl_st* ssl = nullptr;
    int retries = 0;
    std::string pending;
};

} // namespace bench
