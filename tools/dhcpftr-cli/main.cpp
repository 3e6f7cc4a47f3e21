// dhcpftr-cli, the operator's client of a running switch: reads the options, connects to the switch's session
// socket and runs the session, with the lines given (-c, -f) or with the operator at the terminal.
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client.h"
#include "connection.h"

namespace {

using namespace dhcpftr_cli;

constexpr const char *kDefaultSocket = "/run/dhcpftr/vty.sock";
// How long the switch may take to greet a new session: it greets when its loop next turns, after the
// command it is running.
constexpr int kGreetingTimeoutMs = 10000;

constexpr const char *kUsage =
    "usage: dhcpftr-cli [-s SOCKET] [-c LINE]... [-f FILE]...\n"
    "       dhcpftr-cli --help | --version\n";

constexpr const char *kHelp =
    "\n"
    "An operator session with a running switch (dhcpftr --vty-socket SOCKET): the same commands, modes and\n"
    "privilege level as the switch's console.\n"
    "\n"
    "Without -c or -f, and with standard input a terminal, the session is interactive: the switch's prompt,\n"
    "line editing and history, \"?\" prints the help of the line typed so far, TAB completes its last word\n"
    "(a unique keyword is completed, several are listed), Ctrl-C abandons the line being typed, Ctrl-D on an\n"
    "empty line or \"exit\" at the EXEC prompt ends the session. Output longer than the terminal stops at\n"
    "\" --More-- \": space shows the next page, return one more line, q or Ctrl-C none (\"terminal length N\"\n"
    "sets the page, 0 turns paging off). After \"terminal monitor\" the switch's log lines show above the\n"
    "prompt. Without -c or -f and with standard input not a terminal, its lines run as with \"-f -\".\n"
    "\n"
    "With -c and -f, the lines run in the order given, in one session, and only their output is printed, on\n"
    "standard output: no prompts, no echo, no paging; after \"terminal monitor\", log lines among it. A line\n"
    "that ends the session (\"exit\") is the last one run.\n"
    "\n"
    "Options:\n"
    "  -s, --socket SOCKET  the switch's session socket; default: $DHCPFTR_VTY when set, otherwise\n"
    "                       /run/dhcpftr/vty.sock\n"
    "  -c, --command LINE   run LINE, as typed at the prompt (repeatable; a LINE with newlines is\n"
    "                       several lines)\n"
    "  -f, --file FILE      run the lines of FILE, \"-\" for standard input (repeatable); blank lines and\n"
    "                       lines starting with \"!\" are skipped\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "Environment:\n"
    "  DHCPFTR_VTY          the session socket when -s is not given\n"
    "\n"
    "Exit status:\n"
    "  0  every line ran and none was refused; interactive: the session ended (Ctrl-D, \"exit\")\n"
    "  1  a line was refused (the switch could not match it, the command failed, or it printed a line\n"
    "     starting with \"%\"), or lines were not run because an earlier one ended the session\n"
    "  2  the switch cannot be reached, closed the session, or does not speak its session protocol\n"
    "     (the reason on standard error); or the options are wrong\n"
    "\n"
    "Example:\n"
    "  dhcpftr-cli -c \"configure terminal\" -c \"ip dhcp screening ports eth1.1-1.4\" -c end \\\n"
    "              -c \"show ip dhcp screening\"\n";

[[noreturn]] void usage_error(const std::string &reason) {
    std::fprintf(stderr, "dhcpftr-cli: %s\n%s", reason.c_str(), kUsage);
    std::exit(kExitFailed);
}

// Appends the lines of text to lines ("\r\n" ends a line as "\n" does); with skip_comments, without blank
// lines and lines starting with "!".
void add_lines(std::string_view text, bool skip_comments, std::vector<std::string> &lines) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (skip_comments && (first == std::string_view::npos || line[first] == '!'))
            continue;
        lines.emplace_back(line);
    }
}

// The whole content of a file ("-": standard input), or nothing with errno set.
std::optional<std::string> read_file(const std::string &path) {
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char chunk[64 * 1024];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    const int error = errno;
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (n < 0) {
        errno = error;
        return std::nullopt;
    }
    return text;
}

// The option getopt_long stopped at: the short one it names (optopt), otherwise the argument as written.
std::string option_named(const char *argument) {
    return optopt != 0 ? std::string{'-', static_cast<char>(optopt)} : std::string(argument);
}

void add_file(const std::string &path, std::vector<std::string> &lines) {
    std::optional<std::string> text = read_file(path);
    if (!text) {
        std::fprintf(stderr, "dhcpftr-cli: cannot read %s: %s\n", path == "-" ? "standard input" : path.c_str(),
                     std::strerror(errno));
        std::exit(kExitFailed);
    }
    add_lines(*text, true, lines);
}

}  // namespace

int main(int argc, char **argv) {
    static const option kOptions[] = {
        {"socket", required_argument, nullptr, 's'}, {"command", required_argument, nullptr, 'c'},
        {"file", required_argument, nullptr, 'f'},   {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0},
    };
    std::string socket;
    std::vector<std::string> lines;
    bool given_lines = false;  // -c or -f
    opterr = 0;
    for (int option; (option = getopt_long(argc, argv, "+:s:c:f:hV", kOptions, nullptr)) != -1;) {
        switch (option) {
        case 's':
            socket = optarg;
            break;
        case 'c':
            add_lines(optarg, false, lines);
            given_lines = true;
            break;
        case 'f':
            add_file(optarg, lines);
            given_lines = true;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return kExitOk;
        case 'V':
            std::puts("dhcpftr-cli " DHCPFTR_VERSION);
            return kExitOk;
        case ':':
            usage_error("option " + option_named(argv[optind - 1]) + " needs an argument");
        default:
            usage_error("unknown option " + option_named(argv[optind - 1]));
        }
    }
    if (optind < argc)
        usage_error(std::string("unexpected argument ") + argv[optind]);
    if (socket.empty()) {
        const char *from_environment = std::getenv("DHCPFTR_VTY");
        socket = from_environment != nullptr && *from_environment != '\0' ? from_environment : kDefaultSocket;
    }
    const bool interactive = !given_lines && ::isatty(STDIN_FILENO) != 0;
    if (!given_lines && !interactive)
        add_file("-", lines);

    std::optional<Connection> session;
    std::string prompt;
    try {
        session.emplace(socket);
        prompt = session->greet(kGreetingTimeoutMs);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "dhcpftr-cli: cannot reach the switch at %s: %s\n", socket.c_str(), failure.what());
        return kExitFailed;
    }
    try {
        return interactive ? run_interactive(*session, std::move(prompt)) : run_lines(*session, lines);
    } catch (const Failure &failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "dhcpftr-cli: lost the session with the switch at %s: %s\n", socket.c_str(),
                     failure.what());
    } catch (const std::exception &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "dhcpftr-cli: %s\n", error.what());
    }
    return kExitFailed;
}
