// The randomized mirror test with topology events: its steps and the checks after each. The unit test
// (topology_mirror_test.cpp) plays a few hundred steps of fixed seeds; the soak (tests/soak) plays many more.
//
// Steps: configuration commands typed as the shell hands them, interfaces deleted and added again, ports joining
// and leaving trunks, notifications that change nothing, and cards pulled and inserted, each step under at most
// one kernel fault (a refusal or a failed send). After every step the daemon and the kernel filter hold the same
// rules and enabled ports, no stored rule is empty, the present-port list is the chassis's ports and trunks, and
// only present ports that are no trunk members hold configuration, but for the ports a step kept on purpose or
// left behind under a fault.
//
// A step is drawn at random for the state it meets (choose), then played from its record (play), so that a
// recorded sequence, or some of its steps, plays again in a fresh daemon; there a step that no longer fits the
// state it meets is left out (applicable). Failures are reported through GoogleTest's assertions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_defs.h"
#include "kernel/sim_kernel.h"
#include "support/daemon_harness.h"

namespace topology_mirror {

namespace ids = sim::ids;
using Key = sim::kernel::RuleKey;
using Rules = std::map<Key, PORTLIST_T>;

constexpr int kPoolSlots[] = {1, 3, 4};              // user slots: a CPU card's, two line cards' (physical 2, 3)
constexpr int kPoolPorts[] = {1, 2, 3, 32, 33, 48};  // of each: both ends of both port-list words of a slot
constexpr int kPoolTrunks = 4;                       // port-channel1 to port-channel4
constexpr uint8_t kPoolPortCount = std::size(kPoolSlots) * std::size(kPoolPorts);
constexpr uint8_t kPoolSize = kPoolPortCount + kPoolTrunks;

// The interfaces steps name: the ports, then the trunks.
inline const std::vector<std::string> &pool() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (int slot : kPoolSlots)
            for (int port : kPoolPorts)
                out.push_back(ids::port_name(slot, port));
        for (int trunk = 1; trunk <= kPoolTrunks; ++trunk)
            out.push_back(ids::trunk_name(trunk));
        return out;
    }();
    return names;
}

// One step as a record: interfaces are named by their index in the pool.
struct Step {
    enum Kind : uint8_t { kCommand, kDelete, kAdd, kJoin, kLeave, kNotify, kCard };
    enum Fault : uint8_t { kNoFault, kFailedSend, kRefusal };
    Kind kind = kCommand;
    uint8_t arg = 0;        // command: the handler (enable, disable, add rule, remove rule); delete: the state
                            // byte; card: the physical slot
    uint8_t count = 0;      // command: the number of names
    uint8_t names[3] = {};  // command: its interfaces; delete, add: the interface; join, leave, notify: port, trunk
    uint8_t server = 0;     // rule command: the last byte of the server address 10.0.0.x
    uint8_t mac = 0;        // rule command: 0, or the last digit of the client MAC 00:11:22:33:44:0x
    bool removal = false;   // card: pulled, or inserted
    Fault fault = kNoFault;
    int32_t refusal = 0;    // the refusal's code
};

inline uint32_t lport_of(const std::string &name) { return ids::ifindex_of(name) - ids::kPortIfindexBase; }
inline std::string name_of(uint32_t lport) { return *ids::name_of(lport + ids::kPortIfindexBase); }

// The arguments of a command step as the shell hands them to the handler.
inline std::vector<std::string> command_args(const Step &s) {
    std::vector<std::string> args;
    if (s.arg >= 2) {
        args.push_back("10.0.0." + std::to_string(s.server));
        if (s.mac != 0)
            args.insert(args.end(), {"client-mac", "00:11:22:33:44:0" + std::to_string(s.mac)});
    }
    PORTLIST_T list{};
    for (int i = 0; i < s.count; ++i)
        PORTLIST_set_port(&list, lport_of(pool()[s.names[i]]));
    args.push_back(sim::port_text(list));
    return args;
}

// A step as one readable line, its fault included.
inline std::string describe(const Step &s) {
    static const char *const kCommands[] = {"enable", "disable", "add rule", "remove rule"};
    const std::string &first = pool()[s.names[0]];
    const std::string &second = pool()[s.names[1]];
    std::string text;
    switch (s.kind) {
    case Step::kCommand:
        text = kCommands[s.arg];
        for (const std::string &arg : command_args(s))
            text += " " + arg;
        break;
    case Step::kDelete: text = "delete " + first + " state " + std::to_string(s.arg); break;
    case Step::kAdd: text = "add " + first; break;
    case Step::kJoin: text = first + " joins " + second; break;
    case Step::kLeave: text = first + " leaves " + second; break;
    case Step::kNotify: text = "notify " + second + " " + first + " change 2"; break;
    case Step::kCard:
        text = std::string(s.removal ? "remove" : "insert") + " card of physical slot " + std::to_string(s.arg);
        break;
    }
    if (s.fault == Step::kFailedSend)
        text += ", a failed send";
    else if (s.fault == Step::kRefusal)
        text += ", a refusal " + std::to_string(s.refusal);
    return text;
}

// The rules as "server/last MAC byte: ports", one line each, in key order.
inline std::string describe(const Rules &rules) {
    std::ostringstream out;
    for (const auto &[key, ports] : rules)
        out << int(key.server[3]) << "/" << int(key.mac[5]) << ": " << sim::port_text(ports) << "\n";
    return out.str();
}

// The daemon's configuration: its rules and its enabled ports.
inline std::string configuration() {
    return describe(harness::stored_rules()) + "enabled: " + sim::port_text(dhcpftr_cfg_portlist_db);
}

// Ports that may hold configuration where the check would otherwise forbid it, by where they may hold it.
struct Allowance {
    std::set<uint32_t> enabled;  // in the enabled-port list
    std::set<uint32_t> rules;    // in permit rules

    void allow(uint32_t lport, bool in_enabled, bool in_rules) {
        if (in_enabled)
            enabled.insert(lport);
        if (in_rules)
            rules.insert(lport);
    }
    void forget(uint32_t lport) {
        enabled.erase(lport);
        rules.erase(lport);
    }
};

// The steps and checks on the daemon booted in this process (harness::boot_daemon).
class TopologyMirror {
public:
    explicit TopologyMirror(uint32_t seed) : rng_(seed) {}

    // One random step for the current state, under a fault in one command in five and in one topology event
    // in two; a topology event without a candidate gives way to a command.
    Step choose() {
        Step s;
        uint32_t roll = pick(100);
        choose_fault(s, roll < 45 ? 20 : 50);
        bool found = roll < 45   ? choose_command(s)
                     : roll < 57 ? choose_delete(s)
                     : roll < 69 ? choose_add(s)
                     : roll < 78 ? choose_join(s)
                     : roll < 85 ? choose_leave(s)
                     : roll < 89 ? choose_notify(s)
                                 : choose_card(s);
        if (!found)
            choose_command(s);
        return s;
    }

    // True when the step fits the current state: choose could have drawn it.
    bool applicable(const Step &s) const {
        const std::string &first = pool()[s.names[0]];
        const std::string &second = pool()[s.names[1]];
        switch (s.kind) {
        case Step::kCommand: return true;
        case Step::kDelete: return exists(first);
        case Step::kAdd: return addable(first);
        case Step::kJoin: return configurable(first) && exists(second);
        case Step::kLeave: return exists(first) && chassis().trunk_of(first) == second;
        case Step::kNotify: return exists(first) && exists(second);
        case Step::kCard: return s.arg < 2 || s.removal == chassis().slot_present(s.arg + 1);
        }
        return false;
    }

    // Plays a step, then checks daemon, kernel filter and chassis.
    void play(const Step &s) {
        SCOPED_TRACE(describe(s));
        injected_ = s.fault != Step::kNoFault;
        if (s.fault == Step::kFailedSend)
            sim::kernel::fail_next_sends(1);
        else if (s.fault == Step::kRefusal)
            sim::kernel::refuse_next(1, s.refusal);
        switch (s.kind) {
        case Step::kCommand: play_command(s); break;
        case Step::kDelete: play_delete(s); break;
        case Step::kAdd: play_add(s); break;
        case Step::kJoin: play_join(s); break;
        case Step::kLeave: play_leave(s); break;
        case Step::kNotify: play_notify(s); break;
        case Step::kCard: play_card(s); break;
        }
        sim::kernel::wait_idle();
        bool hit = fault_hit();
        counts_["fault hit"] += hit;
        sim::kernel::clear_faults();
        // An exemption lasts while its port stays a member.
        for (std::set<uint32_t> *exempt : {&exempt_.enabled, &exempt_.rules})
            std::erase_if(*exempt, [](uint32_t lport) { return !member(name_of(lport)); });
        SCOPED_TRACE(hit ? "its fault hit" : "no fault hit");
        check();
    }

    // How often each kind of step and outcome happened.
    const std::map<std::string, int> &counts() const { return counts_; }

private:
    uint32_t pick(size_t n) { return std::uniform_int_distribution<uint32_t>(0, uint32_t(n) - 1)(rng_); }
    bool chance(uint32_t percent) { return pick(100) < percent; }
    uint8_t one_of(const std::vector<uint8_t> &indexes) { return indexes[pick(indexes.size())]; }

    static sim::Chassis &chassis() { return sim::Chassis::instance(); }
    static bool exists(const std::string &name) { return chassis().find(name) != nullptr; }
    static bool member(const std::string &port) { return !chassis().trunk_of(port).empty(); }
    static bool configurable(const std::string &name) { return exists(name) && !member(name); }
    // Absent, and a port only where its slot has a card.
    static bool addable(const std::string &name) {
        auto slot_port = ids::slot_port_of(ids::ifindex_of(name));
        return !exists(name) && (!slot_port || chassis().slot_present(slot_port->first));
    }
    static bool enabled(const std::string &name) {
        return PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, lport_of(name));
    }
    // The pool indexes from first up to last for whose names keep is true.
    template <class Pred>
    static std::vector<uint8_t> those(uint8_t first, uint8_t last, Pred keep) {
        std::vector<uint8_t> out;
        for (uint8_t i = first; i < last; ++i)
            if (keep(pool()[i]))
                out.push_back(i);
        return out;
    }
    // The number of places a port is configured in: the enabled-port list and each rule holding it.
    static int places(const std::string &name) {
        int count = enabled(name);
        for (const auto &[key, ports] : harness::stored_rules())
            count += PORTLIST_chk_port_exist(&ports, lport_of(name));
        return count;
    }
    // Messages sent to the kernel filter so far, those whose send failed included.
    static uint64_t sent() {
        sim::kernel::wait_idle();
        sim::kernel::Counters c = sim::kernel::counters();
        return c.received + c.failed_sends;
    }

    // A fault in percent of the steps: a refusal (-100 or another negative code) or a failed send.
    void choose_fault(Step &s, uint32_t percent) {
        bool injected = chance(percent);
        s.refusal = chance(50) ? sim::kernel::kNoResource : -1 - int32_t(pick(40));
        if (injected)
            s.fault = chance(40) ? Step::kFailedSend : Step::kRefusal;
    }
    // True when the fault injected before the step hit one of its messages.
    bool fault_hit() const {
        sim::kernel::Faults f = sim::kernel::faults();
        return injected_ && f.refusals == 0 && f.failing_sends == 0;
    }

    // A configuration command naming one to three interfaces of the pool, mostly ones that can be
    // configured. A name that is absent or a trunk member makes the handler refuse the whole command, and
    // then nothing is sent.
    bool choose_command(Step &s) {
        std::vector<uint8_t> usable = those(0, kPoolSize, configurable);
        s.kind = Step::kCommand;
        s.count = uint8_t(1 + pick(3));
        for (int i = 0; i < s.count; ++i)
            s.names[i] = !usable.empty() && chance(85) ? one_of(usable) : uint8_t(pick(kPoolSize));
        s.arg = uint8_t(pick(4));
        if (s.arg >= 2) {
            s.server = uint8_t(1 + pick(4));
            s.mac = chance(50) ? uint8_t(1 + pick(2)) : 0;
        }
        return true;
    }
    void play_command(const Step &s) {
        static const CLI_HANDLER_FN kHandlers[] = {dhcpftr_enable_port, dhcpftr_disable_port, dhcpftr_add_permit_rule,
                                                   dhcpftr_remove_permit_rule};
        static const char *const kKinds[] = {"enable", "disable", "add rule", "remove rule"};
        bool refused = false;
        for (int i = 0; i < s.count; ++i)
            refused = refused || !configurable(pool()[s.names[i]]);
        uint64_t before = sent();
        int result = term_.run(kHandlers[s.arg], command_args(s));
        term_.take();
        if (refused) {
            EXPECT_EQ(result, 1) << "a command naming an absent interface or a trunk member is refused";
            EXPECT_EQ(sent(), before) << "a refused command sends nothing";
        }
        ++counts_[refused ? "refused command" : kKinds[s.arg]];
    }

    // Deletes an interface of the pool, for good (state 1) or keeping its configuration (state 0 or 3).
    bool choose_delete(Step &s) {
        std::vector<uint8_t> names = those(0, kPoolSize, exists);
        if (names.empty())
            return false;
        s.kind = Step::kDelete;
        s.names[0] = one_of(names);
        s.arg = chance(60) ? IF_STATE_DELETED_FOR_GOOD : chance(50) ? 0 : 3;
        return true;
    }
    void play_delete(const Step &s) {
        const std::string &name = pool()[s.names[0]];
        bool was_enabled = enabled(name);
        std::string before = configuration();
        EXPECT_EQ(chassis().remove(name, s.arg), "");
        // Kept on purpose: anywhere, and nothing changes (a member leaving its trunk first only has the
        // trunk's configuration sent again). For good under a fault: the disabling is the first commit of an
        // enabled interface, so it may stay enabled; otherwise a flush may have failed, so it may stay in a
        // rule.
        if (s.arg != IF_STATE_DELETED_FOR_GOOD) {
            EXPECT_EQ(configuration(), before) << "deleting " << name << " with state " << int(s.arg);
            kept_.allow(lport_of(name), true, true);
        } else if (fault_hit()) {
            kept_.allow(lport_of(name), was_enabled, !was_enabled);
            EXPECT_LE(places(name), 1) << "one failed commit leaves " << name << " in one place at most";
            ++counts_["failed topology commit"];
        }
        ++counts_[s.arg == IF_STATE_DELETED_FOR_GOOD ? "delete for good" : "delete keeping"];
    }

    // Adds an absent interface of the pool again; nothing is sent.
    bool choose_add(Step &s) {
        std::vector<uint8_t> names = those(0, kPoolSize, addable);
        if (names.empty())
            return false;
        s.kind = Step::kAdd;
        s.names[0] = one_of(names);
        return true;
    }
    void play_add(const Step &s) {
        const std::string &name = pool()[s.names[0]];
        uint64_t before = sent();
        EXPECT_EQ(chassis().add(name), "");
        EXPECT_EQ(sent(), before) << "adding " << name << " sends nothing";
        kept_.forget(lport_of(name));
        ++counts_["add"];
    }

    // Picks a present port of the pool (no trunk member when configurable_port) and a present trunk; false when none.
    bool choose_pair(Step &s, Step::Kind kind, bool configurable_port) {
        std::vector<uint8_t> ports = those(0, kPoolPortCount, configurable_port ? configurable : exists);
        std::vector<uint8_t> trunks = those(kPoolPortCount, kPoolSize, exists);
        if (ports.empty() || trunks.empty())
            return false;
        s.kind = kind;
        s.names[0] = one_of(ports);
        s.names[1] = one_of(trunks);
        return true;
    }

    // A present port that is no member joins a trunk of the pool.
    bool choose_join(Step &s) { return choose_pair(s, Step::kJoin, true); }
    void play_join(const Step &s) {
        const std::string &port = pool()[s.names[0]];
        bool was_enabled = enabled(port);
        EXPECT_EQ(chassis().join(pool()[s.names[1]], port), "");
        // The member's disabling comes first when it was enabled; otherwise a rule may keep it.
        if (fault_hit()) {
            exempt_.allow(lport_of(port), was_enabled, !was_enabled);
            EXPECT_LE(places(port), 1) << "one failed commit leaves " << port << " in one place at most";
            ++counts_["failed topology commit"];
        }
        ++counts_["join"];
    }

    // A member of the pool leaves its trunk: only the trunk's configuration is sent again.
    bool choose_leave(Step &s) {
        std::vector<uint8_t> members =
            those(0, kPoolPortCount, [](const std::string &p) { return exists(p) && member(p); });
        if (members.empty())
            return false;
        s.kind = Step::kLeave;
        s.names[0] = one_of(members);
        std::string trunk = chassis().trunk_of(pool()[s.names[0]]);
        s.names[1] = uint8_t(std::find(pool().begin(), pool().end(), trunk) - pool().begin());
        return true;
    }
    void play_leave(const Step &s) {
        const std::string &port = pool()[s.names[0]];
        const std::string &trunk = pool()[s.names[1]];
        std::string before = configuration();
        EXPECT_EQ(chassis().leave(trunk, port), "");
        EXPECT_EQ(configuration(), before) << port << " leaving " << trunk << " changes no configuration";
        ++counts_["leave"];
    }

    // A link-aggregation notification with change 2: the daemon sends nothing.
    bool choose_notify(Step &s) { return choose_pair(s, Step::kNotify, false); }
    void play_notify(const Step &s) {
        uint64_t before = sent();
        EXPECT_EQ(chassis().notify(pool()[s.names[1]], pool()[s.names[0]], 2), "");
        EXPECT_EQ(sent(), before) << "notification with change 2 sends nothing";
        ++counts_["notify"];
    }

    // A card pulled or inserted: mostly the line cards of the pool (physical 2 and 3), sometimes another
    // line card, sometimes a CPU card (physical 0 or 1), whose events change nothing.
    bool choose_card(Step &s) {
        s.kind = Step::kCard;
        s.arg = uint8_t(chance(20) ? pick(2) : chance(75) ? 2 + pick(2) : 4 + pick(6));
        s.removal = s.arg < 2 ? chance(50) : chassis().slot_present(s.arg + 1);
        return true;
    }
    void play_card(const Step &s) {
        int phy = s.arg;
        bool cpu = phy < 2;
        uint64_t before = sent();
        EXPECT_EQ(s.removal ? chassis().remove_card(phy) : chassis().insert_card(phy), "");
        if (cpu || !s.removal) {
            EXPECT_EQ(sent(), before) << (s.removal ? "removal" : "insertion") << " of physical slot " << phy
                                      << " sends nothing";
        }
        // The removal's first commit disables all 48 ports of the card: under a fault they may stay enabled.
        bool hit = !cpu && s.removal && fault_hit();
        counts_["failed topology commit"] += hit;
        for (int port = 1; port <= ids::kPortsPerSlot && !cpu; ++port) {
            uint32_t lport = lport_of(ids::port_name(phy + 1, port));
            if (!s.removal)
                kept_.forget(lport);
            else if (hit)
                kept_.allow(lport, true, false);
        }
        ++counts_[cpu ? "CPU card" : s.removal ? "card removal" : "card insertion"];
    }

    // The checks after every step, as the file's heading lists them.
    void check() {
        sim::kernel::Tables kernel = sim::kernel::tables();
        Rules rules = harness::stored_rules();
        ASSERT_EQ(describe(rules), describe(kernel.rules)) << "the daemon's rules are the kernel filter's";
        ASSERT_EQ(sim::port_text(dhcpftr_cfg_portlist_db), sim::port_text(kernel.enabled))
            << "the daemon's enabled ports are the kernel filter's";
        ASSERT_LE(rules.size(), size_t(DHCPFTR_MAX_RULES));

        PORTLIST_T present{};
        PORTLIST_T members{};
        for (const auto &[ifindex, ifp] : chassis().vr_table()->by_index) {
            if (ifindex <= ids::kPortIfindexBase || ifindex >= ids::kTrunkIfindexBase + ids::kTrunks)
                continue;  // neither a port nor a trunk
            PORTLIST_set_port(&present, ifindex - ids::kPortIfindexBase);
            for (uint32_t m : chassis().members(ifp->name))
                PORTLIST_set_port(&members, m - ids::kPortIfindexBase);
        }
        ASSERT_EQ(sim::port_text(dhcpftr_portlist_db), sim::port_text(present))
            << "the present ports are the chassis's ports and trunks";

        // Where a configured port may be: present or kept, and no trunk member unless exempt.
        auto placed = [&](uint32_t lport, const std::set<uint32_t> &kept, const std::set<uint32_t> &exempt,
                          const char *where) {
            ASSERT_TRUE(PORTLIST_chk_port_exist(&present, lport) || kept.count(lport))
                << name_of(lport) << " " << where << " is absent";
            ASSERT_TRUE(!PORTLIST_chk_port_exist(&members, lport) || exempt.count(lport))
                << name_of(lport) << " " << where << " is a trunk member";
        };
        for (uint32_t lport : harness::lports(dhcpftr_cfg_portlist_db))
            placed(lport, kept_.enabled, exempt_.enabled, "enabled");
        for (const auto &[key, ports] : rules) {
            ASSERT_FALSE(PORTLIST_chk_empty(&ports)) << "no stored rule is empty";
            std::string where = "in the rule of 10.0.0." + std::to_string(key.server[3]);
            for (uint32_t lport : harness::lports(ports))
                placed(lport, kept_.rules, exempt_.rules, where.c_str());
        }
    }

    std::mt19937 rng_;
    harness::Terminal term_;
    bool injected_ = false;
    Allowance kept_;    // absent ports that may hold configuration
    Allowance exempt_;  // trunk members that may hold configuration
    std::map<std::string, int> counts_;
};

}  // namespace topology_mirror
