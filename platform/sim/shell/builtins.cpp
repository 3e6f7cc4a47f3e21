// The shell's built-in commands, installed at the normal level into every new tree:
//   EXEC                  configure terminal, show running-config, write memory, clear running-config, exit
//   CONFIG and interface  exit, end, do ...
#include <cerrno>
#include <cstdio>

#include "shell/sim_shell.h"

namespace sim::shell {
namespace {

const char *const kHelpExitSession[] = {"End the session", nullptr};
const char *const kHelpExitMode[] = {"Exit to the enclosing mode", nullptr};
const char *const kHelpEnd[] = {"End the configuration and return to the EXEC mode", nullptr};
const char *const kHelpDo[] = {"Run an EXEC command", nullptr};
const char *const kHelpConfigure[] = {"Enter the configuration mode", "Configure from the terminal", nullptr};
const char *const kHelpShowRunning[] = {"Show running system information", "The running configuration", nullptr};
const char *const kHelpWrite[] = {"Write the running configuration",
                                  "Save it to the startup-configuration file", nullptr};
const char *const kHelpClear[] = {"Reset functions", "Reset the running configuration to its defaults", nullptr};

// The outermost mode around mode (the one without a parent).
int root_of(const cli_tree &tree, int mode) {
    const Mode *m = tree.mode(mode);
    for (int steps = 0; m != nullptr && m->parent != 0 && steps < 16; ++steps)
        m = tree.mode(m->parent);
    return m != nullptr ? m->number : mode;
}

// "exit": to the parent mode, clearing the current interface; in a mode without parent the session ends.
int exit_mode(Session &session, std::vector<std::string> &) {
    const Mode *m = session.tree().mode(session.mode());
    if (m == nullptr || m->parent == 0)
        session.end();
    else
        session.enter(m->parent, true);
    return 0;
}

// "end": to the outermost mode (EXEC), clearing the current interface.
int end_configuration(Session &session, std::vector<std::string> &) {
    session.enter(root_of(session.tree(), session.mode()), true);
    return 0;
}

// "do LINE": runs the rest of the line as a command of the EXEC mode, then puts the session back in its mode
// and on its interface (unless the command ended the session).
int do_exec(Session &session, std::vector<std::string> &rest) {
    const int mode = session.mode();
    interface *current = session.context()->current_if;
    session.enter(EXEC_MODE, false);
    Outcome outcome = session.run_words(EXEC_MODE, rest);
    session.enter(mode, false);
    session.context()->current_if = current;
    return outcome == Outcome::failed ? 1 : 0;
}

int configure_terminal(Session &session, std::vector<std::string> &) {
    session.enter(CONFIG_MODE, false);
    return 0;
}

int show_running_config(Session &session, std::vector<std::string> &) {
    session.out().write(session.tree().running_config());
    return 0;
}

// Writes text to a file, replacing its content; false when the file cannot be opened or written whole.
bool write_file(const std::string &path, const std::string &text) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    bool closed = std::fclose(file) == 0;
    return written && closed;
}

int write_memory(Session &session, std::vector<std::string> &) {
    const std::string &path = session.settings().startup_file;
    if (path.empty()) {
        session.say("% No startup-configuration file");
        return 1;
    }
    if (!write_file(path, session.tree().running_config())) {
        session.say("% Cannot write " + path);
        return 1;
    }
    session.say("% Configuration saved to " + path);
    return 0;
}

int clear_running_config(Session &session, std::vector<std::string> &) {
    session.tree().reset_config();
    return 0;
}

}  // namespace

void install_builtins(cli_tree &tree) {
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "configure terminal", kHelpConfigure, nullptr, configure_terminal);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show running-config", kHelpShowRunning, nullptr,
                 show_running_config);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write memory", kHelpWrite, nullptr, write_memory);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "clear running-config", kHelpClear, nullptr, clear_running_config);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "exit", kHelpExitSession, nullptr, exit_mode);
    for (int mode : {CONFIG_MODE, INTERFACE_MODE}) {
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "exit", kHelpExitMode, nullptr, exit_mode);
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "end", kHelpEnd, nullptr, end_configuration);
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "do", kHelpDo, nullptr, do_exec, EXEC_MODE);
    }
}

}  // namespace sim::shell
