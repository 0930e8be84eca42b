#include "ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

bool ListensOn(std::uint16_t port) {
    // Columns: sl local_address rem_address st ...; state 0A is LISTEN.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() >= 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

ChildProcess::ChildProcess(std::string processLabel, const std::vector<std::string>& arguments,
                           const std::string& stdoutPath, const std::string& stderrPath,
                           const std::vector<std::string>& extraEnvironment)
    : label(std::move(processLabel)) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    for (char** item = environ; *item; ++item) {
        environment.emplace_back(*item);
    }
    for (const std::string& extra : extraEnvironment) {
        const std::string name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(environment,
                      [&](const std::string& item) { return item.rfind(name, 0) == 0; });
        environment.push_back(extra);
    }
    std::vector<char*> envp;
    for (std::string& item : environment) {
        envp.push_back(item.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + label + " (" + arguments[0] +
                                 "): " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Running() {
    if (exited) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
    }
    return !exited;
}

bool ChildProcess::WaitForListener(std::uint16_t port, double timeoutSeconds) {
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (!Running()) {
            return false;
        }
        if (ListensOn(port)) {
            return true;
        }
        ::poll(nullptr, 0, 20);
    }
    return false;
}

void ChildProcess::Stop() {
    if (!Running()) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < 250; ++waited) {
        if (!Running()) {
            return;
        }
        ::poll(nullptr, 0, 20);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    exited = true;
}

std::uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

ResidentMemory ReadResidentMemory(pid_t pid) {
    ResidentMemory memory;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            memory.currentKiB = std::atol(line.c_str() + 6);
        } else if (line.rfind("VmHWM:", 0) == 0) {
            memory.peakKiB = std::atol(line.c_str() + 6);
        }
    }
    return memory;
}

} // namespace bench
