// The terminals of the shell's sessions: what "terminal length" and "terminal monitor" change, and the log
// lines shown there. The console and every operator session have a terminal; the log display, a source of
// the main loop, hands each log line that console logging lets through to every terminal that shows log
// lines, always between the outputs of commands.
#pragma once

#include <string_view>
#include <vector>

#include "loop/sim_loop.h"

struct cli_tree;

namespace sim::shell {

// The longest page "terminal length" takes, in lines.
constexpr int kMaxPageLength = 512;

class Terminal {
public:
    // Lists the terminal among those the log display serves, for as long as it lives.
    Terminal();
    virtual ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // "terminal length N": N lines of output a page, 0 for no paging. A terminal that never pages ignores it.
    virtual void set_page_length(int lines) { static_cast<void>(lines); }
    // "terminal monitor", "terminal no monitor".
    void set_monitor(bool on) { monitor_ = on; }
    bool monitor() const { return monitor_; }
    // True when log lines show here now; by default after "terminal monitor".
    virtual bool shows_log_lines() const { return monitor_; }
    // Shows one log line, given without its newline.
    virtual void show_log_line(std::string_view line) = 0;

private:
    bool monitor_ = false;
};

// Takes the log lines that wait for the consoles and shows each on every terminal that shows log lines now;
// lines that no terminal shows are dropped.
void show_log_lines();

// The log display as a source of the main loop: it wakes while log lines wait and shows them.
class LogDisplay : public loop::Source {
public:
    void prepare(loop::Wait &wait) override;
    void dispatch(const std::vector<int> &ready) override;
};

// Installs "terminal length <0-512>", "terminal monitor" and "terminal no monitor" in the EXEC mode at the
// normal level. A session without a terminal (the startup replay) takes them and changes nothing.
void install_terminal_commands(cli_tree &tree);

}  // namespace sim::shell
