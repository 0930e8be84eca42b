#include "platform/UnixSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The write end of the live instance's pipe, for the handler; -1 when there is none.
volatile sig_atomic_t signalPipe = -1;

void Caught(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe drops the byte: the same signal is already waiting there.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe, &byte, 1);
    errno = savedErrno;
}

} // namespace

UnixSignals::UnixSignals(QObject* parent) : QObject(parent) {
    int ends[2];
    if (signalPipe != -1 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // signals keep their default action
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    signalPipe = writeEnd;
    notifier = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &UnixSignals::Deliver);
}

UnixSignals::~UnixSignals() {
    for (const auto& [number, handle] : handlers) {
        std::signal(number, SIG_DFL);
    }
    if (readEnd >= 0) {
        signalPipe = -1;
        notifier.reset();
        ::close(readEnd);
        ::close(writeEnd);
    }
}

void UnixSignals::On(std::initializer_list<int> numbers, const std::function<void()>& handle) {
    if (readEnd < 0) {
        return;
    }
    for (const int number : numbers) {
        handlers[number] = handle;
        struct sigaction action {};
        action.sa_handler = Caught;
        sigemptyset(&action.sa_mask);
        // Other system calls go on as if nothing happened; the event loop sees the pipe.
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

void UnixSignals::Deliver() {
    unsigned char numbers[64];
    ssize_t got;
    while ((got = ::read(readEnd, numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            const auto found = handlers.find(numbers[i]);
            if (found != handlers.end()) {
                found->second();
            }
        }
    }
}
