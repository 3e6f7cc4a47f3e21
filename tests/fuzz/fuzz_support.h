// What the fuzz targets share: the switch booted once per process, a level-20 operator session, the default
// topology and configuration restored before an input, and the check that the daemon and the simulated kernel
// filter hold the same configuration.
//
// A broken invariant aborts with a message: libFuzzer then saves the input as a crash.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/sim_chassis.h"
#include "cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_defs.h"
#include "kernel/sim_kernel.h"
#include "shell/sim_shell.h"
#include "support/daemon_harness.h"

namespace fuzz {

[[noreturn]] inline void fail(const std::string &what) {
    std::fprintf(stderr, "\n==== fuzz invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                                   \
    do {                                                              \
        if (!(condition))                                             \
            ::fuzz::fail(std::string(#condition) + " -- " + (what));  \
    } while (0)

inline bool same(const PORTLIST_T &a, const PORTLIST_T &b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

// A port list as range text, every set port included ("lport N" for one without a name).
inline std::string ports_text(const PORTLIST_T &ports) {
    std::string text = sim::port_text(ports);
    for (uint32_t lport : harness::lports(ports))
        if (if_st_lport_to_ifindex(lport) == 0 || !sim::ids::name_of(if_st_lport_to_ifindex(lport)))
            text += " lport " + std::to_string(lport);
    return text.empty() ? "none" : text;
}

inline std::string rules_text(const std::map<sim::kernel::RuleKey, PORTLIST_T> &rules) {
    std::ostringstream out;
    for (const auto &[key, ports] : rules) {
        char line[64];
        std::snprintf(line, sizeof(line), "\n    %u.%u.%u.%u %02X:%02X:%02X:%02X:%02X:%02X ", key.server[0],
                      key.server[1], key.server[2], key.server[3], key.mac[0], key.mac[1], key.mac[2], key.mac[3],
                      key.mac[4], key.mac[5]);
        out << line << ports_text(ports);
    }
    return out.str();
}

// Why the daemon and the kernel filter do not hold the same configuration, or the empty text: the rules and
// their ports, the enabled ports, the trap/log state and the suppress duration; also at most 255 rules, as
// many as the store counts, and none without ports. Waits for the kernel filter to handle every message first.
inline std::string disagreement() {
    sim::kernel::wait_idle();
    const sim::kernel::Tables kernel = sim::kernel::tables();
    const std::map<sim::kernel::RuleKey, PORTLIST_T> stored = harness::stored_rules();
    const std::string daemon_rules = rules_text(stored), kernel_rules = rules_text(kernel.rules);
    if (stored.size() > DHCPFTR_MAX_RULES || static_cast<size_t>(Dhcpftr_DB_entry_number()) != stored.size())
        return "the store counts " + std::to_string(Dhcpftr_DB_entry_number()) + " rules and holds " +
               std::to_string(stored.size());
    if (daemon_rules.find(" none") != std::string::npos)
        return "a stored rule without ports:" + daemon_rules;
    if (daemon_rules != kernel_rules)
        return "rules differ\n  daemon:" + daemon_rules + "\n  kernel:" + kernel_rules;
    const auto setting = [](const char *what, long daemon, long kernel) {
        return daemon == kernel ? std::string() : std::string(what) + " differs: daemon " + std::to_string(daemon) +
                                                      ", kernel " + std::to_string(kernel);
    };
    if (!same(kernel.enabled, dhcpftr_cfg_portlist_db))
        return "enabled ports differ: daemon " + ports_text(dhcpftr_cfg_portlist_db) + ", kernel " +
               ports_text(kernel.enabled);
    const std::string trap = setting("trap/log", dhcpftr_enable_trap, kernel.trap);
    return !trap.empty() ? trap : setting("suppress duration", dhcpftr_trap_duration, kernel.duration);
}

inline void check_agreement(const std::string &after) {
    const std::string why = disagreement();
    if (!why.empty())
        fail("daemon and kernel filter differ after " + after + ": " + why);
}

// A level-20 operator session of the switch, started (in the mode given) again when a line ended it.
class Console {
public:
    explicit Console(int mode = EXEC_MODE) : mode_(mode) {}

    // Runs one line as typed at the console ("?" help included); returns what it printed.
    std::string line(std::string_view text) {
        if (!session_ || session_->ended())
            restart();
        session_->process(text);
        return out_.take();
    }
    void restart() {
        session_ = std::make_unique<sim::shell::Session>(*sim::shell::tree(), out_,
                                                         sim::shell::SessionSettings{CLI_PRIVILEGE_MAX, mode_, ""});
    }
    sim::shell::Session &session() {
        if (!session_ || session_->ended())
            restart();
        return *session_;
    }

private:
    int mode_;
    sim::shell::StringOutput out_;
    std::unique_ptr<sim::shell::Session> session_;
};

// The default chassis again (every card in, trunks port-channel1 to port-channel8 without members, vlan1, no
// other interface), the daemon's present-port list as the chassis has it, and the default configuration
// ("clear running-config").
inline void restore_default_switch() {
    sim::Chassis &chassis = sim::Chassis::instance();
    for (int phy = 2; phy < sim::ids::kSlots; ++phy)
        if (!chassis.slot_present(phy + 1))
            chassis.insert_card(phy);
    for (int n = 1; n <= sim::ids::kTrunks; ++n) {
        const std::string trunk = sim::ids::trunk_name(n);
        for (uint32_t member : chassis.members(trunk))
            chassis.leave(trunk, *sim::ids::name_of(member));
    }
    // The default interfaces: every port, the boot trunks and vlan1.
    static const std::set<uint32_t> defaults = [&chassis] {
        std::set<uint32_t> ifindexes;
        for (int slot = 1; slot <= sim::ids::kSlots; ++slot)
            for (int port = 1; port <= sim::ids::kPortsPerSlot; ++port)
                ifindexes.insert(sim::ids::port_ifindex(slot, port));
        for (int trunk : chassis.boot_trunks())
            ifindexes.insert(sim::ids::trunk_ifindex(trunk));
        ifindexes.insert(sim::ids::kVlanIfindexBase + 1);
        return ifindexes;
    }();
    std::vector<std::string> extra;
    for (const auto &[ifindex, record] : chassis.vr_table()->by_index)
        if (!defaults.contains(ifindex))
            extra.push_back(record->name);
    for (const std::string &name : extra)
        chassis.remove(name, 1);
    if (chassis.vr_table()->by_index.size() != defaults.size())
        for (uint32_t ifindex : defaults)
            if (chassis.vr_table()->find(ifindex) == nullptr)
                chassis.add(*sim::ids::name_of(ifindex));
    PORTLIST_clear_all(&dhcpftr_portlist_db);
    for (const auto &[ifindex, record] : chassis.vr_table()->by_index)
        if (ifindex >= IF_PHY_IFINDEX_MIN && ifindex <= IF_TRUNK_IFINDEX_MAX)
            PORTLIST_set_port(&dhcpftr_portlist_db, if_ifindex_to_st_lport(ifindex));
    sim::shell::tree()->reset_config();
}

}  // namespace fuzz
