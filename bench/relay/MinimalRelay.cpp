// The least a relay can do: one thread, one poll loop, every block written out as soon as it is
// read, Nagle off on both sides. It does nothing else (no login, no logging), so its ratios are
// the floor for any relay on this machine: what is left above it is the relay's own work.
//
//   minimal_relay --listen-port P --server-port S [--fork 1]
//
// One client at a time, but the listener stays open so that the next client waits in the
// backlog instead of being refused; with --fork 1 each client is relayed in a process of its own,
// so that many are served at once.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t BufferBytes = 256 * 1024;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "minimal_relay: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void NoDelay(int fd) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// Bytes read from one side and not yet written to the other. While any wait, that side is not
// read, so nothing grows without bound.
struct Direction {
    int from;
    int to;
    std::vector<char> buffer = std::vector<char>(BufferBytes);
    std::size_t start = 0;
    std::size_t end = 0;
    bool eof = false;
};

// False when the connection pair is finished.
bool Pump(Direction& d, short fromEvents, short toEvents) {
    if (d.start == d.end && (fromEvents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t got = ::recv(d.from, d.buffer.data(), d.buffer.size(), 0);
        if (got <= 0) {
            d.eof = true;
            return false;
        }
        d.start = 0;
        d.end = static_cast<std::size_t>(got);
        toEvents |= POLLOUT; // try to write at once
    }
    if (d.start < d.end && (toEvents & POLLOUT)) {
        const ssize_t sent =
            ::send(d.to, d.buffer.data() + d.start, d.end - d.start, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        if (sent > 0) {
            d.start += static_cast<std::size_t>(sent);
        }
    }
    return true;
}

void Relay(int client, int server) {
    Direction up{client, server};
    Direction down{server, client};
    for (;;) {
        pollfd fds[2] = {{client, 0, 0}, {server, 0, 0}};
        fds[0].events = static_cast<short>((up.start == up.end ? POLLIN : 0) |
                                           (down.start < down.end ? POLLOUT : 0));
        fds[1].events = static_cast<short>((down.start == down.end ? POLLIN : 0) |
                                           (up.start < up.end ? POLLOUT : 0));
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (!Pump(up, fds[0].revents, fds[1].revents) ||
            !Pump(down, fds[1].revents, fds[0].revents)) {
            // Whatever is still buffered for the client goes out before the pair is closed.
            while (down.start < down.end) {
                const ssize_t sent = ::send(client, down.buffer.data() + down.start,
                                            down.end - down.start, MSG_NOSIGNAL);
                if (sent <= 0) {
                    break;
                }
                down.start += static_cast<std::size_t>(sent);
            }
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    int listenPort = 0;
    int serverPort = 0;
    bool forking = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--listen-port") {
            listenPort = std::atoi(argv[i + 1]);
        } else if (name == "--server-port") {
            serverPort = std::atoi(argv[i + 1]);
        } else if (name == "--fork") {
            forking = std::atoi(argv[i + 1]) != 0;
        }
    }
    if (listenPort <= 0 || serverPort <= 0) {
        std::fprintf(stderr, "usage: minimal_relay --listen-port P --server-port S\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (forking) {
        std::signal(SIGCHLD, SIG_IGN); // children are reaped by the system
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Loopback(listenPort);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        Fail("listen");
    }
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) {
            continue;
        }
        if (forking) {
            const pid_t child = ::fork();
            if (child != 0) {
                ::close(client); // the parent only accepts; a failed fork drops the client
                continue;
            }
            ::close(listener);
        }
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in upstream = Loopback(serverPort);
        if (::connect(server, reinterpret_cast<sockaddr*>(&upstream), sizeof upstream) == 0) {
            NoDelay(client);
            NoDelay(server);
            Relay(client, server);
        }
        ::close(server);
        ::close(client);
        if (forking) {
            std::_Exit(0);
        }
    }
}
