#include "Pop3Client.h"

#include "BenchMailbox.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <time.h>

namespace bench {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void ExpectOk(const std::string& reply, const std::string& after) {
    if (reply.rfind("+OK", 0) != 0) {
        throw std::runtime_error(after + " was answered \"" + reply + "\"");
    }
}

int ConnectOnce(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw SystemError("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

SSL_CTX* ClientTlsContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* created = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(created, TLS1_2_VERSION);
        SSL_CTX_set_verify(created, SSL_VERIFY_NONE, nullptr);
        return created;
    }();
    return context;
}

} // namespace

Pop3Client::Pop3Client(std::uint16_t port, bool retryRefused, bool tls) {
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        fd = ConnectOnce(port);
        if (fd >= 0) {
            if (tls) {
                ssl = SSL_new(ClientTlsContext());
                SSL_set_fd(ssl, fd);
                if (SSL_connect(ssl) != 1) {
                    throw std::runtime_error("TLS handshake with port " + std::to_string(port) +
                                             " failed");
                }
            }
            return;
        }
        if (errno != ECONNREFUSED || !retryRefused || Clock::now() > giveUp) {
            throw SystemError("connect to port " + std::to_string(port));
        }
        ++retries;
        // A short back-off while the relay returns to its listening state: short enough that
        // the session time shows the relay's delay rather than ours (the timer slack is set
        // to its minimum once, so the wait really is this short).
        static const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
        (void)precise;
        const timespec backOff{0, RefusedBackOffNs};
        ::nanosleep(&backOff, nullptr);
    }
}

Pop3Client::~Pop3Client() {
    if (ssl) {
        SSL_free(ssl);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

void Pop3Client::LogIn(LoginStyle style) {
    const std::string greeting = ReadLine();
    ExpectOk(greeting, "the connection");
    if (style == LoginStyle::UserPass) {
        Send("USER " + std::string(MailUser) + "\r\n");
        ExpectOk(ReadLine(), "USER");
        Send("PASS " + std::string(MailPassword) + "\r\n");
        ExpectOk(ReadLine(), "PASS");
        return;
    }
    const std::size_t open = greeting.find('<');
    const std::size_t close = greeting.find('>', open);
    if (open == std::string::npos || close == std::string::npos) {
        throw std::runtime_error("no APOP timestamp in \"" + greeting + "\"");
    }
    const std::string timestamp = greeting.substr(open, close - open + 1);
    Send("APOP " + std::string(MailUser) + " " + Md5Hex(timestamp + std::string(MailPassword)) +
         "\r\n");
    ExpectOk(ReadLine(), "APOP");
}

void Pop3Client::Quit() {
    Send("QUIT\r\n");
    ExpectOk(ReadLine(), "QUIT");
}

long Pop3Client::Receive(char* buffer, std::size_t size) {
    if (ssl) {
        const int got = SSL_read(ssl, buffer, static_cast<int>(size));
        if (got <= 0 && SSL_get_error(ssl, got) == SSL_ERROR_ZERO_RETURN) {
            return 0;
        }
        return got <= 0 ? (errno = EPROTO, -1) : got;
    }
    return ::recv(fd, buffer, size, 0);
}

void Pop3Client::Send(std::string_view bytes) {
    while (ssl && !bytes.empty()) {
        const int sent = SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
        if (sent <= 0) {
            throw std::runtime_error("TLS write failed");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemError("send");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void Pop3Client::WaitReadable(int timeoutMs) {
    if (ssl && SSL_pending(ssl) > 0) {
        return; // decrypted bytes already wait inside OpenSSL
    }
    pollfd readable{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&readable, 1, timeoutMs);
        if (ready > 0) {
            return;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        throw std::runtime_error("no reply within " + std::to_string(timeoutMs / 1000) + " s");
    }
}

std::string Pop3Client::ReadLine() {
    for (;;) {
        const std::size_t end = pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return line;
        }
        WaitReadable(TimeoutMs);
        char buffer[4096];
        const ssize_t got = Receive(buffer, sizeof buffer);
        if (got == 0) {
            throw std::runtime_error("connection closed while a reply line was expected");
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemError("recv");
        }
        pending.append(buffer, static_cast<std::size_t>(got));
    }
}

void Pop3Client::ReadExactly(std::string_view expected, std::vector<Clock::time_point>* arrivals) {
    std::size_t offset = 0;
    const auto check = [&](const char* data, std::size_t size) {
        if (size > expected.size() - offset) {
            throw std::runtime_error("more bytes arrived than the reply holds");
        }
        if (std::memcmp(data, expected.data() + offset, size) != 0) {
            throw std::runtime_error("the reply differs from what the server sent, near byte " +
                                     std::to_string(offset));
        }
        offset += size;
    };
    if (!pending.empty()) {
        check(pending.data(), pending.size());
        pending.clear();
    }
    // One per thread: the concurrent run reads with many clients at once.
    thread_local std::vector<char> buffer(1 << 20);
    while (offset < expected.size()) {
        WaitReadable(TimeoutMs);
        const ssize_t got = Receive(buffer.data(), buffer.size());
        if (got == 0) {
            throw std::runtime_error("connection closed after " + std::to_string(offset) + " of " +
                                     std::to_string(expected.size()) + " bytes");
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemError("recv");
        }
        if (arrivals) {
            arrivals->push_back(Clock::now());
        }
        check(buffer.data(), static_cast<std::size_t>(got));
    }
}

void Pop3Client::ReadMultiLineSlowly(std::size_t chunkBytes, int pauseMs,
                                     const std::function<void(const char*, std::size_t)>& sink,
                                     const std::function<void()>& onPause) {
    constexpr std::string_view Terminator = "\r\n.\r\n";
    std::string tail; // the last bytes seen, enough to find the terminator across pieces
    const auto take = [&](const char* data, std::size_t size) {
        sink(data, size);
        tail.append(data, size);
        if (tail.size() > Terminator.size()) {
            tail.erase(0, tail.size() - Terminator.size());
        }
    };
    if (ssl) {
        throw std::runtime_error("slow reading is not built for TLS");
    }
    if (!pending.empty()) {
        take(pending.data(), pending.size());
        pending.clear();
    }
    std::vector<char> buffer(chunkBytes);
    while (tail != Terminator) {
        std::size_t taken = 0;
        while (taken < chunkBytes && tail != Terminator) {
            const ssize_t got = ::recv(fd, buffer.data(), chunkBytes - taken, MSG_DONTWAIT);
            if (got == 0) {
                throw std::runtime_error("connection closed before the end of the reply");
            }
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                throw SystemError("recv");
            }
            take(buffer.data(), static_cast<std::size_t>(got));
            taken += static_cast<std::size_t>(got);
        }
        onPause();
        if (tail == Terminator) {
            break;
        }
        if (taken == 0) {
            WaitReadable(TimeoutMs);
        } else {
            ::poll(nullptr, 0, pauseMs);
        }
    }
}

} // namespace bench
