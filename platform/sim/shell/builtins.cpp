// The shell's built-in commands, installed at the normal level into every new tree:
//   EXEC                  configure terminal, show running-config, show startup-config, show users,
//                         show version, show clock, show history, write [memory], write terminal,
//                         write erase, copy running-config startup-config, clear running-config, exit, quit
//   CONFIG and interface  exit, end, do ...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "chassis/sim_chassis.h"
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
const char *const kHelpWriteAlone[] = {"Write the running configuration", nullptr};
const char *const kHelpWriteTerminal[] = {"Write the running configuration", "Print it on the terminal", nullptr};
const char *const kHelpWriteErase[] = {"Write the running configuration", "Erase the startup-configuration file",
                                       nullptr};
const char *const kHelpCopy[] = {"Copy a configuration", "Copy from the running configuration",
                                 "Copy to the startup-configuration file", nullptr};
const char *const kHelpShowStartup[] = {"Show running system information", "The startup-configuration file",
                                        nullptr};
const char *const kHelpShowClock[] = {"Show running system information", "The system clock", nullptr};
const char *const kHelpShowHistory[] = {"Show running system information", "The lines this session ran", nullptr};
const char *const kHelpShowUsers[] = {"Show running system information", "The operators logged in", nullptr};
const char *const kHelpShowVersion[] = {"Show running system information", "The release of the switch", nullptr};
const char *const kHelpClear[] = {"Reset functions", "Reset the running configuration to its defaults", nullptr};

constexpr const char *kNoStartupFile = "% No startup-configuration file";
constexpr const char *kConfirmErase = "Erasing the startup configuration. Continue? [confirm]";

// When the switch started: the uptime counts from here.
const auto g_started = std::chrono::steady_clock::now();

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

// Replaces the file at path with text atomically: the text goes to a temporary file in the same directory
// (".NAME.PID", made with the mode 0644 less the umask, then given the mode of the file it replaces), is
// flushed to the disk, and is renamed over path. Readers, and the file after a crash, see the old text or the
// new, never a part. False on any failure, with path as it was and the temporary file removed.
bool write_file(const std::string &path, const std::string &text) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp =
        (slash == std::string::npos ? "" : dir + "/") + "." + name + "." + std::to_string(::getpid());
    ::unlink(temp.c_str());  // left by a process of the same number that ended while it wrote
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::FILE *file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    struct stat old {};
    const bool replaces = ::stat(path.c_str(), &old) == 0;
    bool ok = (!replaces || ::fchmod(fd, old.st_mode & 07777) == 0) &&
              std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0 &&
              ::fsync(fd) == 0;
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
        session.say(kNoStartupFile);
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

// "show startup-config": the startup-configuration file as saved, with a newline after a last line that
// has none.
int show_startup_config(Session &session, std::vector<std::string> &) {
    const std::string &path = session.settings().startup_file;
    std::FILE *file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr && (path.empty() || errno == ENOENT)) {
        session.say(kNoStartupFile);
        return 1;
    }
    std::string text;
    int error = file == nullptr ? errno : 0;
    if (file != nullptr) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            text.append(chunk, n);
        if (std::ferror(file) != 0)
            error = errno;
        std::fclose(file);
    }
    if (error != 0) {
        session.say("% Cannot read " + path + ": " + std::strerror(error));
        return 1;
    }
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    session.out().write(text);
    return 0;
}

// "write erase": asks first; a yes removes the startup-configuration file.
int write_erase(Session &session, std::vector<std::string> &) {
    session.ask(kConfirmErase, [&session] {
        const std::string &path = session.settings().startup_file;
        if (path.empty())
            session.say(kNoStartupFile);
        else if (::unlink(path.c_str()) == 0)
            session.say("[OK]");
        else if (errno == ENOENT)
            session.say(kNoStartupFile);
        else
            session.say("% Cannot erase " + path + ": " + std::strerror(errno));
    });
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

// The time since the switch started as "1 week, 2 days, 3 hours, 4 minutes": units of nothing left out, the
// minutes always there.
std::string uptime() {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(std::chrono::steady_clock::now() - g_started);
    long left = static_cast<long>(minutes.count());
    std::string text;
    const struct {
        const char *unit;
        long minutes;
    } units[] = {{"week", 7 * 24 * 60}, {"day", 24 * 60}, {"hour", 60}, {"minute", 1}};
    for (const auto &u : units) {
        const long count = left / u.minutes;
        left %= u.minutes;
        if (count == 0 && u.minutes != 1)
            continue;
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + u.unit + (count == 1 ? "" : "s");
    }
    return text;
}

// "show version": the release, the uptime, the chassis and the startup-configuration file.
int show_version(Session &session, std::vector<std::string> &) {
    session.say("dhcpftr version " DHCPFTR_VERSION);
    session.say("switch uptime is " + uptime());
    session.say("Chassis: " + std::to_string(ids::kSlots) + " slots, " +
                std::to_string(ids::kSlots * ids::kPortsPerSlot) + " Ethernet ports");
    const std::string &file = session.settings().startup_file;
    session.say("Startup configuration file: " + (file.empty() ? std::string("none") : file));
    return 0;
}

// "show clock": the local time as "*08:30:01.123 UTC Tue Dec 8 2026" (the "*": no time source keeps it).
int show_clock(Session &session, std::vector<std::string> &) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char time[16], zone[16], day[16], year[8];
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%Z", &local);
    std::strftime(day, sizeof day, "%a %b", &local);
    std::strftime(year, sizeof year, "%Y", &local);
    char line[96];
    std::snprintf(line, sizeof line, "*%s.%03ld %s %s %d %s", time, now.tv_nsec / 1000000, zone, day, local.tm_mday,
                  year);
    session.say(line);
    return 0;
}

// "show history": the lines this session ran, oldest first.
int show_history(Session &session, std::vector<std::string> &) {
    for (const std::string &line : session.history())
        session.say("  " + line);
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
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show startup-config", kHelpShowStartup, nullptr,
                 show_startup_config);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show clock", kHelpShowClock, nullptr, show_clock);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "show history", kHelpShowHistory, nullptr, show_history);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write memory", kHelpWrite, nullptr, write_memory);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write", kHelpWriteAlone, nullptr, write_memory);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write terminal", kHelpWriteTerminal, nullptr, show_running_config)
        .filtered = true;
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "write erase", kHelpWriteErase, nullptr, write_erase);
    tree.install(EXEC_MODE, CLI_PRIVILEGE_NORMAL, "copy running-config startup-config", kHelpCopy, nullptr,
                 write_memory);
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
