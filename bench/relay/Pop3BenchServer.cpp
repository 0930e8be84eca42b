// A POP3 server built for speed, so that the relay, not the server, is what the benchmark
// measures: every reply is generated once in memory and written with as few system calls as the
// kernel allows. One connection at a time, in the order they arrive.
//
//   pop3_bench_server --port P [--big-mb N] [--messages N] [--report FILE]
//                     [--tls-cert PEM --tls-key PEM]
//
// With --tls-cert and --tls-key every connection is TLS from the first byte, and USER and PASS
// log in as well (the channel protects the password). Otherwise logs in only with APOP against
// the greeting's timestamp; a wrong digest is answered with -ERR
// and reported on standard error, which fails the benchmark run. With --report, one line per
// RETR of message 1 is appended to FILE: "RETR 1 <bytes sent> <md5 of the bytes sent>".

#include "BenchMailbox.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

struct ServerOptions {
    int port = 0;
    bench::MailboxShape shape;
    std::string reportPath;
    bool forking = false;
    std::string tlsCert;
    std::string tlsKey;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "pop3_bench_server: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string UpperWord(std::string_view word) {
    std::string upper(word);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

class Session {
public:
    Session(int socket, SSL* tlsSession, const ServerOptions& serverOptions,
            const bench::BigMessage& bigMessage, const std::string& uidlReply, unsigned serial)
        : fd(socket), ssl(tlsSession), options(serverOptions), big(bigMessage), uidl(uidlReply) {
        timestamp =
            "<" + std::to_string(::getpid()) + "." + std::to_string(serial) + "@bench.invalid>";
    }

    void Run() {
        if (!Send("+OK Benchmark POP3 server ready " + timestamp + "\r\n")) {
            return;
        }
        std::string line;
        while (ReadLine(line)) {
            if (!Handle(line)) {
                return;
            }
        }
    }

private:
    bool Send(std::string_view bytes) {
        if (!ssl) {
            return SendAll(fd, bytes);
        }
        while (!bytes.empty()) {
            const int sent = SSL_write(
                ssl, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)));
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    ssize_t Receive(char* buffer, std::size_t size) {
        if (ssl) {
            return SSL_read(ssl, buffer, static_cast<int>(size));
        }
        return ::recv(fd, buffer, size, 0);
    }

    bool ReadLine(std::string& line) {
        for (;;) {
            const std::size_t end = pending.find('\n');
            if (end != std::string::npos) {
                line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return true;
            }
            char buffer[4096];
            const ssize_t got = Receive(buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
        }
    }

    // False ends the session.
    bool Handle(const std::string& line) {
        const std::size_t space = line.find(' ');
        const std::string command = UpperWord(std::string_view(line).substr(0, space));
        const std::string argument =
            space == std::string::npos ? std::string() : line.substr(space + 1);

        if (command == "QUIT") {
            Send("+OK bye\r\n");
            return false;
        }
        if (command == "NOOP") {
            return Send("+OK\r\n");
        }
        if (command == "APOP") {
            return Send(CheckApop(argument) ? "+OK maildrop ready\r\n"
                                            : "-ERR authentication failed\r\n");
        }
        if (ssl && command == "USER") {
            userName = argument;
            return Send("+OK\r\n");
        }
        if (ssl && command == "PASS") {
            loggedIn = userName == bench::MailUser && argument == bench::MailPassword;
            if (!loggedIn) {
                std::fprintf(stderr, "pop3_bench_server: wrong USER/PASS login for \"%s\"\n",
                             userName.c_str());
                std::fflush(stderr);
            }
            return Send(loggedIn ? "+OK maildrop ready\r\n" : "-ERR authentication failed\r\n");
        }
        if (!loggedIn) {
            return Send("-ERR log in with APOP first\r\n");
        }
        if (command == "STAT") {
            return Send("+OK " + std::to_string(options.shape.messageCount) + " " +
                        std::to_string(MailboxOctets()) + "\r\n");
        }
        if (command == "UIDL") {
            if (argument.empty()) {
                return Send(uidl);
            }
            const int number = std::atoi(argument.c_str());
            if (number < 1 || number > options.shape.messageCount) {
                return Send("-ERR no such message\r\n");
            }
            return Send("+OK " + bench::UidlLine(number) + "\r\n");
        }
        if (command == "RETR") {
            const int number = std::atoi(argument.c_str());
            if (number < 1 || number > options.shape.messageCount) {
                return Send("-ERR no such message\r\n");
            }
            if (number > 1) {
                return Send(bench::TinyMessageReply(number));
            }
            const bool sent = Send(big.reply);
            Report(sent);
            return sent;
        }
        return Send("-ERR unknown command\r\n");
    }

    std::size_t MailboxOctets() const {
        std::size_t octets = big.octets;
        for (int n = 2; n <= options.shape.messageCount; ++n) {
            octets += bench::TinyMessage(n).size();
        }
        return octets;
    }

    bool CheckApop(const std::string& argument) {
        const std::size_t space = argument.find(' ');
        const std::string user = argument.substr(0, space);
        const std::string digest =
            space == std::string::npos ? std::string() : argument.substr(space + 1);
        const std::string expected = bench::Md5Hex(timestamp + std::string(bench::MailPassword));
        loggedIn = user == bench::MailUser && digest == expected;
        if (!loggedIn) {
            std::fprintf(stderr, "pop3_bench_server: wrong APOP login \"%s\" for %s\n",
                         argument.c_str(), timestamp.c_str());
            std::fflush(stderr);
        }
        return loggedIn;
    }

    void Report(bool sent) {
        if (options.reportPath.empty()) {
            return;
        }
        // Hashed after the send, so the hash costs nothing in the measured time.
        FILE* report = std::fopen(options.reportPath.c_str(), "a");
        if (!report) {
            return;
        }
        std::fprintf(report, "RETR 1 %zu %s%s\n", big.reply.size(),
                     bench::Md5Hex(big.reply).c_str(), sent ? "" : " incomplete");
        std::fclose(report);
    }

    int fd;
    SSL* ssl;
    const ServerOptions& options;
    const bench::BigMessage& big;
    const std::string& uidl;
    std::string timestamp;
    std::string pending;
    std::string userName; // USER inside TLS
    bool loggedIn = false;
};

ServerOptions ParseOptions(int argc, char** argv) {
    ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "pop3_bench_server: %s needs a value\n", argv[i]);
            std::exit(2);
        }
        const char* value = argv[++i];
        if (name == "--port") {
            options.port = std::atoi(value);
        } else if (name == "--big-mb") {
            options.shape.bigMessageBytes = static_cast<std::size_t>(std::atoll(value)) << 20;
        } else if (name == "--messages") {
            options.shape.messageCount = std::atoi(value);
        } else if (name == "--report") {
            options.reportPath = value;
        } else if (name == "--fork") {
            options.forking = std::atoi(value) != 0;
        } else if (name == "--tls-cert") {
            options.tlsCert = value;
        } else if (name == "--tls-key") {
            options.tlsKey = value;
        } else {
            std::fprintf(stderr, "pop3_bench_server: unknown option %s\n", argv[i - 1]);
            std::exit(2);
        }
    }
    if (options.port <= 0 || options.port > 65535 || options.shape.messageCount < 1) {
        std::fprintf(stderr, "usage: pop3_bench_server --port P [--big-mb N] [--messages N] "
                             "[--report FILE] [--fork 1]\n");
        std::exit(2);
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const ServerOptions options = ParseOptions(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    if (options.forking) {
        std::signal(SIGCHLD, SIG_IGN); // children are reaped by the system
    }

    const bench::BigMessage big = bench::MakeBigMessage(options.shape.bigMessageBytes);
    const std::string uidl = bench::UidlReply(options.shape.messageCount);

    SSL_CTX* tls = nullptr;
    if (!options.tlsCert.empty()) {
        tls = SSL_CTX_new(TLS_server_method());
        if (!tls || SSL_CTX_use_certificate_chain_file(tls, options.tlsCert.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls, options.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            std::exit(1);
        }
        SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION);
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) {
        Fail("socket");
    }
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Fail("bind");
    }
    // Listening only once the mailbox exists: the benchmark waits for this socket.
    if (::listen(listener, 64) != 0) {
        Fail("listen");
    }

    for (unsigned serial = 1;; ++serial) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            Fail("accept");
        }
        // Every reply is written whole; nothing should wait for an ACK.
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (options.forking) {
            // Each connection in a process of its own: many clients are served at once.
            if (::fork() != 0) {
                ::close(connection);
                continue;
            }
            ::close(listener);
        }
        SSL* ssl = nullptr;
        if (tls) {
            ssl = SSL_new(tls);
            SSL_set_fd(ssl, connection);
            if (SSL_accept(ssl) != 1) {
                // A client that gave up (a probe for the listener) is no failure.
                SSL_free(ssl);
                ::close(connection);
                if (options.forking) {
                    std::_Exit(0);
                }
                continue;
            }
        }
        Session(connection, ssl, options, big, uidl, serial).Run();
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (options.forking) {
            std::_Exit(0);
        }
        ::close(connection);
    }
}
