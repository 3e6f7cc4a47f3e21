#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "chassis/chassis_commands.h"
#include "chassis/sim_chassis.h"
#include "datapath/port_commands.h"
#include "datapath/sim_datapath.h"
#include "init/sim_framework.h"
#include "kernel/kernel_commands.h"
#include "log/logging_commands.h"
#include "log/sim_log.h"
#include "loop/sim_loop.h"
#include "nsm/sim_nsm.h"
#include "qvlog.h"
#include "services/sim_services.h"
#include "shell/sim_shell.h"
#include "shell/sim_terminal.h"
#include "snmp/sim_agent.h"
#include "traffic/traffic_commands.h"
#include "vty/sim_vty.h"

namespace sim::framework {
namespace {

constexpr int kLogModule = 1;

struct State {
    QV_INIT_T record{};
    qv_init_ctx context{shell::tree()};
};

State &state() {
    static State s;
    return s;
}

void say(const std::string &text) {
    qvprintf(kLogModule, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "qv_init: %s\n", text.c_str());
}

void *framework_pointer(uint32_t n) {
    return reinterpret_cast<void *>(static_cast<uintptr_t>(kFrameworkWord + n));
}

// Reports any framework word of the record that the daemon changed.
void check_framework_words(const QV_INIT_T *rec) {
    bool intact = true;
    for (uint32_t i = 0; i < 8; ++i) {
        if (rec->words1_8[i] != kFrameworkWord + 1 + i) {
            say("start-up record word " + std::to_string(i + 1) + " was changed");
            intact = false;
        }
    }
    if (rec->word11 != framework_pointer(11)) {
        say("start-up record word 11 was changed");
        intact = false;
    }
    if (intact)
        say("start-up record: framework words kept");
}

// Replays the startup-configuration file, if one was given, and logs what became of it.
void replay_startup(const Options &options) {
    if (options.startup_config.empty())
        return;
    const std::string &file = options.startup_config;
    switch (shell::replay_startup(file)) {
    case shell::Replay::replayed:
        say("startup configuration " + file + " replayed");
        break;
    case shell::Replay::missing:
        say("startup configuration " + file + " not found");
        break;
    case shell::Replay::unreadable:
        say("startup configuration " + file + " cannot be read");
        break;
    }
}

}  // namespace

bool open_log(const std::string &where) {
    if (where == "-")
        return log::set_sink(log::Sink::standard_error);
    if (where == "syslog")
        return log::set_sink(log::Sink::system_log);
    return log::open_file(where);
}

qv_init_ctx *context() { return &state().context; }

bool boot(QV_INIT_T *rec, const Options &options) {
    if (rec == nullptr || rec->mod_init == nullptr) {
        say("start-up record without module initialiser");
        return false;
    }
    say("start-up record: module " + std::to_string(rec->module_id) + ", flag " + std::to_string(rec->flag));
    check_framework_words(rec);

    procm::set_ready(0);
    // Every boot starts from a tree of the shell's own commands: then the platform's, then the daemon's.
    context()->ctree = shell::tree();
    shell::tree()->reset();
    shell::install_terminal_commands(*context()->ctree);
    kernel::install_commands(context()->ctree);
    traffic::install_commands(context()->ctree);
    chassis::install_commands(context()->ctree);
    datapath::install_commands(context()->ctree);
    log::install_commands(context()->ctree);
    say("module initialiser returned " + std::to_string(rec->mod_init(0, 0)));
    if (rec->cli_init != nullptr)
        say("command installer returned " + std::to_string(rec->cli_init(context())));
    if (rec->nsm_init != nullptr)
        say("NSM client start returned " + std::to_string(rec->nsm_init(0)));

    if (nsm::bring_up())
        say("NSM client up");
    Chassis &chassis = Chassis::instance();
    chassis.create_port_interfaces();
    say("port interfaces created");
    replay_startup(options);
    chassis.create_boot_trunks();
    say("trunk interfaces created");
    procm::set_ready(1);
    say("system ready");
    return true;
}

int run_console(const Options &options, loop::Source &stop, loop::Source *sessions) {
    // The log lines for the consoles go to the console and the sessions that monitor the log.
    shell::LogDisplay log_lines;
    std::vector<loop::Source *> others{&stop, &log_lines};
    if (sessions != nullptr)
        others.push_back(sessions);
    std::unique_ptr<snmp::Agent> agent;
    if (!options.agentx.empty()) {
        std::string error;
        agent = snmp::Agent::start(options.agentx, error);
        if (!agent) {
            std::fprintf(stderr, "dhcpftr: no SNMP agent: %s\n", error.c_str());
            return 2;
        }
        others.push_back(agent.get());
    }
    // Standard input is a session only in batch mode or on a terminal: a service has none, and input that is
    // neither (a pipe, /dev/null) would otherwise end the switch when it ends.
    if (options.batch || (!options.no_console && ::isatty(STDIN_FILENO) != 0))
        return shell::run_console(options, others);
    return loop::run(stop, {others.data() + 1, others.size() - 1}) ? 0 : 1;
}

}  // namespace sim::framework

extern "C" {

QV_INIT_T *QV_INIT_alloc(void) {
    using namespace sim::framework;
    QV_INIT_T *rec = &state().record;
    rec->module_id = 0;
    for (uint32_t i = 0; i < 8; ++i)
        rec->words1_8[i] = kFrameworkWord + 1 + i;
    rec->flag = 0;
    rec->cli_init = nullptr;
    rec->word11 = framework_pointer(11);
    rec->nsm_init = nullptr;
    rec->mod_init = nullptr;
    rec->words14_15[0] = framework_pointer(14);
    rec->words14_15[1] = framework_pointer(15);
    return rec;
}

int QV_INIT_Sys_Init(QV_INIT_T *rec) {
    using namespace sim::framework;
    auto parsed = parse_options(own_arguments());
    if (auto *error = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "dhcpftr: %s\n%s", error->c_str(), usage().c_str());
        std::exit(2);
    }
    const Options &options = std::get<Options>(parsed);
    if (options.help || options.version) {
        std::fputs(options.help ? usage().c_str() : "dhcpftr " DHCPFTR_VERSION "\n", stdout);
        std::exit(0);
    }
    sim::log::set_min_level(options.log_level);
    if (!options.log_file.empty() && !open_log(options.log_file)) {
        std::fprintf(stderr, "dhcpftr: cannot open log file '%s'\n", options.log_file.c_str());
        std::exit(2);
    }
    // Before the first thread: the signals that end the process reach the loop only.
    sim::loop::StopSignals stop;
    // The socket first: a switch that cannot serve its sessions (another one serves them) stops before it
    // touches the bridge. Clients that come during the boot wait in the socket's queue.
    std::unique_ptr<sim::vty::Server> sessions;
    if (!options.vty_socket.empty()) {
        std::string error;
        sessions = sim::vty::Server::listen({options.vty_socket, options.vty_group,
                                             options.level_given ? options.level : sim::vty::kSessionLevel,
                                             options.startup_config},
                                            error);
        if (!sessions) {
            std::fprintf(stderr, "dhcpftr: cannot serve sessions on %s: %s\n", options.vty_socket.c_str(),
                         error.c_str());
            std::exit(2);
        }
    }
    sim::datapath::use_bridge(options.bridge);
    if (!boot(rec, options))
        return -1;
    // Ports that a switch before this one left screening in the bridge continue under this configuration.
    sim::datapath::take_over();
    notify_ready();
    const int status = run_console(options, stop, sessions.get());
    notify_stopping();
    sessions.reset();
    // What the switch put into the kernel goes with it: no port of its bridge forwards unscreened.
    sim::datapath::shutdown();
    return status;
}

}  // extern "C"
