#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "loop/sim_loop.h"
#include "qvlog.h"

namespace sim::loop {
namespace {

std::function<void()> &interrupt() {
    static std::function<void()> handler;
    return handler;
}

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, s);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0)
        ::close(fd_);
}

void StopSignals::prepare(Wait &wait) {
    if (fd_ >= 0)
        wait.fds.push_back(fd_);
}

void StopSignals::dispatch(const std::vector<int> &ready) {
    signalfd_siginfo info;
    if (ready.empty() || ::read(fd_, &info, sizeof info) != sizeof info)
        return;
    if (info.ssi_signo == SIGINT && interrupt()) {
        interrupt()();
        return;
    }
    signal_ = static_cast<int>(info.ssi_signo);
    qvprintf(1, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "switch: ending on SIG%s\n", sigabbrev_np(signal_));
}

void set_interrupt(std::function<void()> handler) { interrupt() = std::move(handler); }

bool run(Source &main, std::span<Source *const> others) {
    std::vector<Source *> sources{&main};
    sources.insert(sources.end(), others.begin(), others.end());
    std::vector<Wait> waits(sources.size());
    std::vector<pollfd> polled;
    std::vector<int> ready;
    const auto ended = [&sources] {
        return std::any_of(sources.begin(), sources.end(), [](const Source *s) { return s->done(); });
    };
    while (!ended()) {
        polled.clear();
        int timeout_ms = -1;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            waits[i] = Wait{};
            sources[i]->prepare(waits[i]);
            for (int fd : waits[i].fds)
                polled.push_back({fd, POLLIN, 0});
            for (int fd : waits[i].write_fds)
                polled.push_back({fd, POLLOUT, 0});
            if (waits[i].timeout_ms >= 0 && (timeout_ms < 0 || waits[i].timeout_ms < timeout_ms))
                timeout_ms = waits[i].timeout_ms;
        }
        if (::poll(polled.data(), polled.size(), timeout_ms) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "dhcpftr: waiting for input failed: %s\n", std::strerror(errno));
            return false;
        }
        // Each source gets its own ready descriptors, in the order the sources were given; a source that
        // ended the loop stops the others from running.
        std::size_t at = 0;
        for (std::size_t i = 0; i < sources.size() && !ended(); ++i) {
            ready.clear();
            const std::size_t count = waits[i].fds.size() + waits[i].write_fds.size();
            for (std::size_t k = 0; k < count; ++k, ++at)
                if ((polled[at].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR | POLLNVAL)) != 0)
                    ready.push_back(polled[at].fd);
            sources[i]->dispatch(ready);
        }
    }
    return true;
}

}  // namespace sim::loop
