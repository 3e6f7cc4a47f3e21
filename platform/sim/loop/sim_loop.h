// The process's main loop: one thread waits on standard input and on every other source of work (the SNMP
// agent's sockets and timers) together, and hands each what is ready, one at a time. The daemon therefore
// sees one command or request at a time, whichever source it comes from.
#pragma once

#include <functional>
#include <span>
#include <vector>

namespace sim::loop {

// What the loop waits for on behalf of the sources: descriptors to become readable or writable, and at most a
// timeout.
struct Wait {
    std::vector<int> fds;
    std::vector<int> write_fds;  // output waiting for room in the descriptor
    int timeout_ms = -1;  // -1: no timeout

    // Shortens the timeout to ms (when ms is not negative).
    void at_most(int ms) {
        if (ms >= 0 && (timeout_ms < 0 || ms < timeout_ms))
            timeout_ms = ms;
    }
};

// A source of work for the loop.
class Source {
public:
    virtual ~Source() = default;
    // Adds the descriptors it waits on to wait, and shortens the timeout to its next deadline.
    virtual void prepare(Wait &wait) = 0;
    // Does the work that is ready: ready holds those of its descriptors that are readable, or writable for
    // those it waits to write to (none when the loop woke for a timeout or for another source).
    virtual void dispatch(const std::vector<int> &ready) = 0;
    // True when the source has ended; the loop ends with the first source that has.
    virtual bool done() const { return false; }
};

// SIGTERM, SIGINT and SIGHUP as a source: done once one of them came, so that the process ends through the
// end of its loop, with its clean-up, instead of where the signal found it. Made before any thread starts,
// since it blocks the signals for the threads made after it (they are read from a signalfd).
class StopSignals : public Source {
public:
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    void prepare(Wait &wait) override;
    void dispatch(const std::vector<int> &ready) override;
    bool done() const override { return signal_ != 0; }

private:
    int fd_ = -1;
    int signal_ = 0;
};

// While set, SIGINT calls handler instead of ending the loop: an operator's terminal console uses Ctrl-C to
// abandon the line being typed. An empty handler gives SIGINT back its end.
void set_interrupt(std::function<void()> handler);

// Runs until main or another source is done, serving main and the others. Returns false when waiting failed
// (then the reason is on standard error).
bool run(Source &main, std::span<Source *const> others = {});

}  // namespace sim::loop
