#pragma once

// The programs the benchmark starts (server, socat, Quorlin): started with their output sent to
// files, stopped by their own process id, and watched through /proc.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class ChildProcess {
public:
    // stdoutPath and stderrPath may be "/dev/null"; extraEnvironment holds "NAME=value" items.
    ChildProcess(std::string label, const std::vector<std::string>& arguments,
                 const std::string& stdoutPath, const std::string& stderrPath,
                 const std::vector<std::string>& extraEnvironment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid; }
    const std::string& Label() const { return label; }
    bool Running();
    // Waits until something listens on the port; false when the process ended or time ran out.
    bool WaitForListener(std::uint16_t port, double timeoutSeconds);
    void Stop();

private:
    std::string label;
    pid_t pid = -1;
    bool exited = false;
};

// A port nothing listens on at the moment, from the system's ephemeral range.
std::uint16_t FreePort();

// Resident memory of a process in KiB, current and peak (VmRSS and VmHWM); 0 when unknown.
struct ResidentMemory {
    long currentKiB = 0;
    long peakKiB = 0;
};
ResidentMemory ReadResidentMemory(pid_t pid);

} // namespace bench
