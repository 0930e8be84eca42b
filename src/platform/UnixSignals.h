#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

class QSocketNotifier;

// POSIX signals (SIGTERM, SIGINT, SIGHUP, ...) handled on the event loop like any other event:
// the signal handler only writes the signal's number into a pipe, and a notifier reads it
// there, so what a signal asks for never runs inside the handler or in the middle of another
// event. One at a time: the handler finds the pipe through a single slot. The signals go back
// to their default action when it goes.
class UnixSignals : public QObject {
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

    // From now on each of these signals calls `handle` on the event loop.
    void On(std::initializer_list<int> numbers, const std::function<void()>& handle);

private:
    void Deliver();

    int readEnd = -1;
    int writeEnd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::map<int, std::function<void()>> handlers;
};
