// Helpers shared by the daemon's tests: booting the daemon in the test process, building permit rules,
// and reading the captured log.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "dhcpftr_db.h"
#include "init/sim_framework.h"
#include "kernel/sim_kernel.h"
#include "log/sim_log.h"

namespace harness {

using Mac = std::array<uint8_t, 6>;

// Fills the framework's start-up record with the daemon's entry points, as the process entry does.
QV_INIT_T *daemon_record();
// Boots the simulated switch with the daemon in this process, without a console.
void boot_daemon(const sim::framework::Options &options = {});
// Boots as boot_daemon does, then forgets the boot's log and kernel messages and captures the log afresh.
void boot_quietly();

// A permit-rule entry for a dotted server address, a client MAC (all zero by default) and ports.
DHCPFTR_PERMIT_RULE_ENTRY_T rule(const char *server, const Mac &mac = {}, std::initializer_list<uint32_t> ports = {});
PORTLIST_T ports(std::initializer_list<uint32_t> lports);
// The ports of a list, ascending.
std::vector<uint32_t> lports(const PORTLIST_T &list);
// The dotted server address of an entry.
std::string server_of(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry);

// The key of an entry as "server mac", and every stored rule's in store order.
std::string key_text(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry);
std::vector<std::string> stored_keys();
// The key of an entry, in the form of the kernel filter's tables.
sim::kernel::RuleKey key_of(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry);
// Rules as "server/last MAC byte: ports", one line each in key order.
std::vector<std::string> rule_lines(const std::map<sim::kernel::RuleKey, PORTLIST_T> &rules);
// Every stored rule by key, in the form of the kernel filter's tables.
std::map<sim::kernel::RuleKey, PORTLIST_T> stored_rules();

// The messages the kernel filter received since they were last cleared, once it is idle, one line each:
// "rule CODE SERVER/MAC PORTS" (the last byte of the server and of the MAC), "ports CODE PORTS", or
// "value CODE N" (the trap/log byte or the duration word).
std::vector<std::string> kernel_messages();

// Captured log pieces of the daemon's module, as "level flag text" with line numbers replaced by "#".
std::vector<std::string> daemon_log();
// Starts capturing the log afresh.
void capture_log();

// A command context of the simulated chassis whose terminal output is captured.
class Terminal {
public:
    Terminal();
    // Calls a handler with the arguments as the shell hands them; returns its result.
    int run(CLI_HANDLER_FN handler, std::vector<std::string> args = {});
    // Calls a handler as run does and waits until the kernel filter is idle; returns "result|output" and
    // forgets the output.
    std::string call(CLI_HANDLER_FN handler, std::vector<std::string> args = {});
    // The output since the last take, and forgets it.
    std::string take();
    cli *context() { return &ctx_; }

private:
    static int out(void *target, const char *format, ...);
    cli ctx_{};
    std::string text_;
};

}  // namespace harness
