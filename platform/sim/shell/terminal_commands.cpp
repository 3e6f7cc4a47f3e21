// The terminal commands of the EXEC mode, at the normal level:
//   terminal length <0-512>   lines of output a page on the session's terminal; 0: no paging
//   terminal monitor          log lines on the session's terminal too
//   terminal no monitor       no more log lines there
#include <charconv>
#include <string>
#include <vector>

#include "shell/sim_shell.h"
#include "shell/sim_terminal.h"

namespace sim::shell {
namespace {

const char *const kHelpLength[] = {"Set terminal line parameters", "Set number of lines on a screen",
                                   "Number of lines on screen (0 for no pausing)", nullptr};
const char *const kHelpMonitor[] = {"Set terminal line parameters", "Copy log messages to this terminal",
                                    nullptr};
const char *const kHelpNoMonitor[] = {"Set terminal line parameters", "Negate a command or set its defaults",
                                      "Copy log messages to this terminal", nullptr};

// "terminal length N": the shell took only numbers within <0-512>.
int terminal_length(Session &session, std::vector<std::string> &args) {
    int lines = 0;
    std::from_chars(args[0].data(), args[0].data() + args[0].size(), lines);
    if (Terminal *terminal = session.terminal())
        terminal->set_page_length(lines);
    return 0;
}

int terminal_monitor(Session &session, std::vector<std::string> &) {
    if (Terminal *terminal = session.terminal())
        terminal->set_monitor(true);
    return 0;
}

int terminal_no_monitor(Session &session, std::vector<std::string> &) {
    if (Terminal *terminal = session.terminal())
        terminal->set_monitor(false);
    return 0;
}

}  // namespace

void install_terminal_commands(cli_tree &tree) {
    static_assert(kMaxPageLength == 512, "the command string names the longest page");
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "terminal length <0-512>", kHelpLength, nullptr, terminal_length);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "terminal monitor", kHelpMonitor, nullptr, terminal_monitor);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "terminal no monitor", kHelpNoMonitor, nullptr,
                 terminal_no_monitor);
}

}  // namespace sim::shell
