#include <cstdlib>
#include <fstream>
#include <iterator>

#include "init/sim_framework.h"

namespace sim::framework {
namespace {

bool parse_int(const std::string &text, int lo, int hi, int &out) {
    if (text.empty() || text.size() > 6)
        return false;
    char *end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < lo || value > hi)
        return false;
    out = static_cast<int>(value);
    return true;
}

}  // namespace

std::string usage() {
    return "usage: dhcpftr [--help] [--version] [--batch | --no-console] [--startup-config FILE] [--level N]\n"
           "               [--log-level N] [--log-file FILE|-|syslog] [--agentx SOCKET] [--bridge NAME]\n"
           "               [--vty-socket PATH [--vty-group NAME]]\n"
           "  --batch               read commands from standard input, print only their output\n"
           "  --no-console          no session on standard input (also when it is not a terminal)\n"
           "  --startup-config FILE replay FILE at boot; 'write memory' saves to it\n"
           "  --level N             privilege level of the console (1-20, default 2) and of the\n"
           "                        operator sessions (default 15)\n"
           "  --log-level N         lowest log level written (default 0: all)\n"
           "  --log-file FILE       write the log to FILE, '-' for standard error, 'syslog' for syslog\n"
           "  --agentx SOCKET       serve SNMP as an AgentX subagent of the master agent at SOCKET\n"
           "  --bridge NAME         attach ports to the existing Linux bridge NAME instead of the\n"
           "                        switch's own bridge dhcpftr0\n"
           "  --vty-socket PATH     serve operator sessions (dhcpftr-cli) on the unix socket PATH\n"
           "  --vty-group NAME      group of the socket (default: dhcpftr when that group exists)\n"
           "  --version             print the release and stop\n";
}

std::variant<Options, std::string> parse_options(const std::vector<std::string> &args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--batch") {
            options.batch = true;
        } else if (arg == "--no-console") {
            options.no_console = true;
        } else if (arg == "--startup-config") {
            if (!value(options.startup_config) || options.startup_config.empty())
                return "--startup-config needs a file name";
        } else if (arg == "--level") {
            if (!value(text) || !parse_int(text, 1, 20, options.level))
                return "--level needs a number from 1 to 20";
            options.level_given = true;
        } else if (arg == "--log-level") {
            if (!value(text) || !parse_int(text, 0, 1000, options.log_level))
                return "--log-level needs a number from 0 to 1000";
        } else if (arg == "--log-file") {
            if (!value(options.log_file) || options.log_file.empty())
                return "--log-file needs a file name, '-' or 'syslog'";
        } else if (arg == "--agentx") {
            if (!value(options.agentx) || options.agentx.empty())
                return "--agentx needs the path of a master agent's AgentX socket";
        } else if (arg == "--bridge") {
            // A Linux interface name: at most 15 characters, no "/" and no blank.
            if (!value(options.bridge) || options.bridge.empty() || options.bridge.size() > 15 ||
                options.bridge.find_first_of("/ \t\n") != std::string::npos)
                return "--bridge needs the name of a Linux bridge (at most 15 characters)";
        } else if (arg == "--vty-socket") {
            if (!value(options.vty_socket) || options.vty_socket.empty())
                return "--vty-socket needs the path of the socket to serve operator sessions on";
        } else if (arg == "--vty-group") {
            if (!value(options.vty_group) || options.vty_group.empty())
                return "--vty-group needs a group name";
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    if (options.batch && options.no_console)
        return "--batch and --no-console exclude each other";
    if (!options.vty_group.empty() && options.vty_socket.empty())
        return "--vty-group needs --vty-socket";
    return options;
}

std::vector<std::string> own_arguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (!args.empty())
        args.erase(args.begin());
    return args;
}

}  // namespace sim::framework
