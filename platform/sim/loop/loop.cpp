#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "loop/sim_loop.h"

namespace sim::loop {

bool run(Source &main, std::span<Source *const> others) {
    std::vector<Source *> sources{&main};
    sources.insert(sources.end(), others.begin(), others.end());
    std::vector<Wait> waits(sources.size());
    std::vector<pollfd> polled;
    std::vector<int> ready;
    while (!main.done()) {
        polled.clear();
        int timeout_ms = -1;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            waits[i] = Wait{};
            sources[i]->prepare(waits[i]);
            for (int fd : waits[i].fds)
                polled.push_back({fd, POLLIN, 0});
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
        for (std::size_t i = 0; i < sources.size() && !main.done(); ++i) {
            ready.clear();
            for (std::size_t k = 0; k < waits[i].fds.size(); ++k, ++at)
                if ((polled[at].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0)
                    ready.push_back(polled[at].fd);
            sources[i]->dispatch(ready);
        }
    }
    return true;
}

}  // namespace sim::loop
