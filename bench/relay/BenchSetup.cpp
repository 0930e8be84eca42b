#include "BenchSetup.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

constexpr double StartTimeoutSeconds = 20;

std::string SafeFileName(std::string name) {
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '-';
        }
    }
    return name;
}

void WaitListening(ChildProcess& process, std::uint16_t port, const std::string& stderrPath) {
    if (!process.WaitForListener(port, StartTimeoutSeconds)) {
        throw std::runtime_error(process.Label() + " did not start listening on port " +
                                 std::to_string(port) + ". Its error output:\n" +
                                 TailOfFile(stderrPath));
    }
}

} // namespace

std::unique_ptr<ChildProcess> StartServer(const BenchPaths& paths, std::uint16_t port,
                                          const std::vector<std::string>& extraArguments,
                                          const std::string& name) {
    const std::string stderrPath = paths.workDir + "/" + SafeFileName(name) + ".stderr";
    std::vector<std::string> arguments{paths.server, "--port", std::to_string(port)};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    auto server =
        std::make_unique<ChildProcess>("the benchmark server", arguments, "/dev/null", stderrPath);
    // Generating a mailbox of a few hundred MB takes a moment.
    if (!server->WaitForListener(port, 120)) {
        throw std::runtime_error("the benchmark server did not start:\n" + TailOfFile(stderrPath));
    }
    return server;
}

Contestant StartSocat(const BenchPaths& paths, std::uint16_t serverPort) {
    Contestant socat;
    socat.route = Route{"socat", FreePort(), LoginStyle::Apop, false};
    socat.stderrPath = paths.workDir + "/socat.stderr";
    socat.process = std::make_unique<ChildProcess>(
        "socat",
        std::vector<std::string>{paths.socat,
                                 "TCP-LISTEN:" + std::to_string(socat.route.port) +
                                     ",bind=127.0.0.1,reuseaddr,fork",
                                 "TCP:127.0.0.1:" + std::to_string(serverPort)},
        "/dev/null", socat.stderrPath);
    WaitListening(*socat.process, socat.route.port, socat.stderrPath);
    return socat;
}

Contestant StartMinimalRelay(const BenchPaths& paths, const std::string& name,
                             std::uint16_t serverPort, bool concurrent) {
    Contestant relay;
    relay.route = Route{name, FreePort(), LoginStyle::Apop, false};
    relay.stderrPath = paths.workDir + "/minimal-relay.stderr";
    std::vector<std::string> arguments{paths.minimalRelay, "--listen-port",
                                       std::to_string(relay.route.port), "--server-port",
                                       std::to_string(serverPort)};
    if (concurrent) {
        arguments.insert(arguments.end(), {"--fork", "1"});
    }
    relay.process = std::make_unique<ChildProcess>("the minimal relay", arguments, "/dev/null",
                                                   relay.stderrPath);
    WaitListening(*relay.process, relay.route.port, relay.stderrPath);
    return relay;
}

Contestant StartQuorlin(const BenchPaths& paths, const std::string& name, std::uint16_t serverPort,
                        const std::string& stdoutPath, bool window,
                        const std::vector<std::string>& extraArguments) {
    Contestant quorlin;
    // Quorlin listens from start to end: a refused connection fails the benchmark.
    quorlin.route = Route{name, FreePort(), LoginStyle::UserPass, false};
    const std::string base = paths.workDir + "/" + SafeFileName(name);
    quorlin.stderrPath = base + ".stderr";
    // An empty folder of its own: no settings file of the user is read or written.
    const std::string configDir = base + ".config";
    std::filesystem::create_directories(configDir);
    // A non-empty blocked list, so that every RETR reply goes through the tagging's gathering
    // and inspection (the benchmark's mail declares another charset and passes unchanged).
    std::ofstream(configDir + "/Quorlin_BatList.ini", std::ios::binary) << "GB2312\r\n";
    if (window) {
        // The window may ask for the server when its setting file is missing, and nobody
        // answers under the offscreen platform: the file names the same server as --server.
        std::ofstream(configDir + "/Quorlin.ini", std::ios::binary) << "127.0.0.1\r\n";
    }

    std::vector<std::string> arguments{window ? paths.window : paths.quorlin};
    if (!window) {
        arguments.push_back("--headless");
    }
    for (const std::string& option :
         {std::string("--server"), std::string("127.0.0.1"), std::string("--server-port"),
          std::to_string(serverPort), std::string("--listen-port"),
          std::to_string(quorlin.route.port), std::string("--listen-address"),
          std::string("127.0.0.1"), std::string("--config-dir"), configDir}) {
        arguments.push_back(option);
    }
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<std::string> environment;
    if (window) {
        environment.emplace_back("QT_QPA_PLATFORM=offscreen");
    }
    quorlin.process = std::make_unique<ChildProcess>("Quorlin (" + name + ")", arguments,
                                                     stdoutPath, quorlin.stderrPath, environment);
    WaitListening(*quorlin.process, quorlin.route.port, quorlin.stderrPath);
    return quorlin;
}

std::string TailOfFile(const std::string& path, std::size_t maxBytes) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    if (text.size() > maxBytes) {
        text = "..." + text.substr(text.size() - maxBytes);
    }
    return text.empty() ? std::string("(nothing)") : text;
}

} // namespace bench
