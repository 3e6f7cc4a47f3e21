// The simulated daemon start-up framework: the process's options, the boot of the simulated switch around
// the daemon, and the shell's console that keeps the process alive until standard input closes.
//
// Boot, in order: a fresh command tree of the shell (its built-in commands, then the simulated kernel
// filter's platform commands), the daemon's entry points (module initialiser, command installer, NSM client
// start), the NSM client up (the daemon's NSM start-up callback), the port interfaces of every present slot,
// the replay of the startup configuration with the system not ready, the boot trunks, then the system ready.
// Then the process takes over the ports a switch before it left screening in the bridge, runs its loop until
// the console ends or a signal (SIGTERM, SIGINT, SIGHUP) comes, and takes its ports, program and bridge out
// of the kernel again.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "loop/sim_loop.h"
#include "qv_init.h"

namespace sim::framework {

struct Options {
    std::string startup_config;  // --startup-config FILE
    bool batch = false;          // --batch: commands from standard input, only their output
    int level = 2;               // --level N: privilege level of the session
    int log_level = 0;           // --log-level N: lowest level logged
    std::string log_file;        // --log-file FILE|-|syslog ("" = no log output)
    std::string agentx;          // --agentx SOCKET: the SNMP agent's master ("" = no SNMP)
    std::string bridge;          // --bridge NAME: the host's bridge for the ports ("" = the switch's own)
    std::string vty_socket;      // --vty-socket PATH: serve operator sessions there ("" = none)
    std::string vty_group;       // --vty-group NAME: the socket's group ("" = dhcpftr when it exists)
    bool no_console = false;     // --no-console: no session on standard input
    bool level_given = false;    // --level was given: it is the operator sessions' level too (else 15)
    bool help = false;           // --help: print the usage and stop
    bool version = false;        // --version: print the release and stop
};

// Parses the options (without the program name); the error text when they are wrong.
std::variant<Options, std::string> parse_options(const std::vector<std::string> &args);
// The process's own arguments, without the program name, read from /proc/self/cmdline.
std::vector<std::string> own_arguments();
std::string usage();

// Sends the log to a file, to standard error ("-") or to syslog ("syslog"); false when it cannot.
bool open_log(const std::string &where);

// The context handed to the command installer: its command tree is the shell's (sim::shell::tree()).
qv_init_ctx *context();

// Runs the boot for a filled start-up record. False when the record is unusable.
bool boot(QV_INIT_T *rec, const Options &options);
// Runs the main loop: the shell's console (sim::shell::run_console) when standard input is one, the source
// that stops it (a signal), the operator sessions (when not null) and, with options.agentx, the SNMP agent.
// Returns the process's exit status.
int run_console(const Options &options, loop::Source &stop, loop::Source *sessions);

// Tell the service manager (systemd, Type=notify) that the switch is ready, after the boot's replay of the
// startup configuration, or that it is stopping. Both do nothing when the process was not started by systemd
// or the build has no libsystemd.
void notify_ready();
void notify_stopping();

// The values QV_INIT_alloc put in the words a daemon does not set.
constexpr uint32_t kFrameworkWord = 0x51A11A00u;

}  // namespace sim::framework
