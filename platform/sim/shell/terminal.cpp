#include <string>

#include "log/sim_log.h"
#include "shell/sim_terminal.h"

namespace sim::shell {
namespace {

// Every terminal that lives now, in the order they came.
std::vector<Terminal *> &terminals() {
    static std::vector<Terminal *> list;
    return list;
}

}  // namespace

Terminal::Terminal() { terminals().push_back(this); }

Terminal::~Terminal() { std::erase(terminals(), this); }

void show_log_lines() {
    const std::vector<std::string> lines = log::take_console_lines();
    if (lines.empty())
        return;
    for (const std::string &line : lines)  // each without its newline
        for (Terminal *terminal : terminals())
            if (terminal->shows_log_lines())
                terminal->show_log_line(line);
}

void LogDisplay::prepare(loop::Wait &wait) {
    if (const int fd = log::console_wake_fd(); fd >= 0)
        wait.fds.push_back(fd);
}

void LogDisplay::dispatch(const std::vector<int> &ready) {
    if (!ready.empty())
        show_log_lines();
}

}  // namespace sim::shell
