// The shell's built-in commands, installed at the normal level into every new tree:
//   EXEC                  configure terminal, show running-config, show users, show version, write memory,
//                         clear running-config, exit, quit
//   CONFIG and interface  exit, end, do ...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
const char *const kHelpShowUsers[] = {"Show running system information", "The operators logged in", nullptr};
const char *const kHelpShowVersion[] = {"Show running system information", "The release of the switch", nullptr};
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

// The process's file mode creation mask, read without setting it (umask() sets it for every thread, if only
// for a moment); 022 when /proc does not tell.
mode_t current_umask() {
    unsigned mask = 022;
    if (std::FILE *status = std::fopen("/proc/self/status", "r"); status != nullptr) {
        char line[128];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return static_cast<mode_t>(mask);
}

// Replaces the file at path with text atomically: the text goes to a temporary file in the same directory
// (".NAME.XXXXXX"), is flushed to the disk, gets the mode of the file it replaces (0644 less the umask for a
// new file), and is renamed over path. Readers, and the file after a crash, see the old text or the new, never
// a part. False on any failure, with path as it was and the temporary file removed.
bool write_file(const std::string &path, const std::string &text) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? "" : dir + "/") + "." + name + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    std::FILE *file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644 & ~current_umask();
    bool ok = ::fchmod(fd, mode) == 0 && std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
              std::fflush(file) == 0 && ::fsync(fd) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The directory's entry reaches the disk too.
    if (const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
    return true;
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
    session.say("Building configuration...");
    session.say("[OK]");
    return 0;
}

// "show users": the console and every operator session, the asking one marked with "*".
int show_users(Session &session, std::vector<std::string> &) {
    session.out().write("    Line       User             Since                Mode\n");
    for (const User &user : users()) {
        char since[32] = "";
        std::tm local{};
        if (localtime_r(&user.since, &local) != nullptr)
            std::strftime(since, sizeof since, "%Y-%m-%d %H:%M:%S", &local);
        const Mode *mode = session.tree().mode(user.session->mode());
        char row[160];
        std::snprintf(row, sizeof row, "%s   %-10s %-16s %-20s %s\n", user.session == &session ? "*" : " ",
                      user.line.c_str(), user.name.c_str(), since, mode != nullptr ? mode->name.c_str() : "?");
        session.out().write(row);
    }
    return 0;
}

int show_version(Session &session, std::vector<std::string> &) {
    session.say("dhcpftr version " DHCPFTR_VERSION);
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
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show users", kHelpShowUsers, nullptr, show_users);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show version", kHelpShowVersion, nullptr, show_version);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write memory", kHelpWrite, nullptr, write_memory);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "clear running-config", kHelpClear, nullptr, clear_running_config);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "exit", kHelpExitSession, nullptr, exit_mode);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "quit", kHelpExitSession, nullptr, exit_mode);
    for (int mode : {CONFIG_MODE, INTERFACE_MODE}) {
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "exit", kHelpExitMode, nullptr, exit_mode);
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "end", kHelpEnd, nullptr, end_configuration);
        tree.install(mode, CLI_PRIVILEGE_NORMAL, "do", kHelpDo, nullptr, do_exec, EXEC_MODE);
    }
}

}  // namespace sim::shell
