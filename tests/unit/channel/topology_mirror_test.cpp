// Randomized mirror test with topology events: configuration commands typed as the shell hands them,
// interfaces deleted and added again, ports joining and leaving trunks, notifications that change nothing,
// and cards pulled and inserted, each step under at most one kernel fault (a refusal or a failed send).
// After every step the daemon and the kernel filter hold the same rules and enabled ports, no stored rule is
// empty, the present-port list is the chassis's ports and trunks, and only present ports that are no trunk
// members hold configuration, but for the ports a step kept on purpose or left behind under a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

namespace {

namespace ids = sim::ids;
using Key = sim::kernel::RuleKey;
using Rules = std::map<Key, PORTLIST_T>;

constexpr int kSteps = 400;
constexpr int kPoolSlots[] = {1, 3, 4};              // user slots: a CPU card's, two line cards' (physical 2, 3)
constexpr int kPoolPorts[] = {1, 2, 3, 32, 33, 48};  // of each: both ends of both port-list words of a slot
constexpr int kPoolTrunks = 4;                       // port-channel1 to port-channel4

uint32_t lport_of(const std::string &name) { return ids::ifindex_of(name) - ids::kPortIfindexBase; }
std::string name_of(uint32_t lport) { return *ids::name_of(lport + ids::kPortIfindexBase); }

// The rules as "server/last MAC byte: ports", one line each, in key order.
std::string describe(const Rules &rules) {
    std::ostringstream out;
    for (const auto &[key, ports] : rules)
        out << int(key.server[3]) << "/" << int(key.mac[5]) << ": " << sim::port_text(ports) << "\n";
    return out.str();
}

// The daemon's configuration: its rules and its enabled ports.
std::string configuration() {
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

class ChannelTopologyMirror : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override {
        harness::boot_daemon();
        rng_.seed(GetParam());
        for (int slot : kPoolSlots)
            for (int port : kPoolPorts)
                ports_.push_back(ids::port_name(slot, port));
        for (int trunk = 1; trunk <= kPoolTrunks; ++trunk)
            trunks_.push_back(ids::trunk_name(trunk));
        pool_ = ports_;
        pool_.insert(pool_.end(), trunks_.begin(), trunks_.end());
    }

    uint32_t pick(size_t n) { return std::uniform_int_distribution<uint32_t>(0, uint32_t(n) - 1)(rng_); }
    bool chance(uint32_t percent) { return pick(100) < percent; }
    const std::string &one_of(const std::vector<std::string> &names) { return names[pick(names.size())]; }

    static sim::Chassis &chassis() { return sim::Chassis::instance(); }
    static bool exists(const std::string &name) { return chassis().find(name) != nullptr; }
    static bool member(const std::string &port) { return !chassis().trunk_of(port).empty(); }
    static bool enabled(const std::string &name) {
        return PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, lport_of(name));
    }
    // The names of a list for which keep is true.
    template <class Pred>
    static std::vector<std::string> those(const std::vector<std::string> &names, Pred keep) {
        std::vector<std::string> out;
        std::copy_if(names.begin(), names.end(), std::back_inserter(out), keep);
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

    // A fault in percent of the calls: a refusal (-100 or another negative code) or a failed send. Returns
    // its description, empty without fault.
    std::string inject_fault(uint32_t percent) {
        injected_ = chance(percent);
        int32_t refusal = chance(50) ? sim::kernel::kNoResource : -1 - int32_t(pick(40));
        if (!injected_)
            return "";
        if (chance(40)) {
            sim::kernel::fail_next_sends(1);
            return ", a failed send";
        }
        sim::kernel::refuse_next(1, refusal);
        return ", a refusal " + std::to_string(refusal);
    }
    // True when the fault injected before the step hit one of its messages.
    bool fault_hit() const {
        sim::kernel::Faults f = sim::kernel::faults();
        return injected_ && f.refusals == 0 && f.failing_sends == 0;
    }

    // A configuration command naming one to three interfaces of the pool, mostly ones that can be
    // configured. A name that is absent or a trunk member makes the handler refuse the whole command, and
    // then nothing is sent.
    std::string step_command() {
        static const CLI_HANDLER_FN kHandlers[] = {dhcpftr_enable_port, dhcpftr_disable_port, dhcpftr_add_permit_rule,
                                                   dhcpftr_remove_permit_rule};
        static const char *const kNames[] = {"enable", "disable", "add rule", "remove rule"};
        std::vector<std::string> usable = those(pool_, [](const std::string &n) { return exists(n) && !member(n); });
        PORTLIST_T list{};
        bool refused = false;
        for (uint32_t i = 0, count = 1 + pick(3); i < count; ++i) {
            const std::string &name = !usable.empty() && chance(85) ? one_of(usable) : one_of(pool_);
            PORTLIST_set_port(&list, lport_of(name));
            refused = refused || !exists(name) || member(name);
        }
        uint32_t kind = pick(4);
        std::vector<std::string> args;
        if (kind >= 2) {
            args.push_back("10.0.0." + std::to_string(1 + pick(4)));
            if (chance(50))
                args.insert(args.end(), {"client-mac", "00:11:22:33:44:0" + std::to_string(1 + pick(2))});
        }
        args.push_back(sim::port_text(list));
        std::string what = kNames[kind];
        for (const std::string &arg : args)
            what += " " + arg;
        uint64_t before = sent();
        int result = term_.run(kHandlers[kind], args);
        term_.take();
        if (refused) {
            EXPECT_EQ(result, 1) << what;
            EXPECT_EQ(sent(), before) << what << ": a refused command sends nothing";
        }
        ++counts_[refused ? "refused command" : kNames[kind]];
        return what;
    }

    // Deletes an interface of the pool, for good (state 1) or keeping its configuration (state 0 or 3).
    std::string step_delete() {
        std::vector<std::string> names = those(pool_, exists);
        if (names.empty())
            return "";
        const std::string &name = one_of(names);
        uint8_t state = chance(60) ? IF_STATE_DELETED_FOR_GOOD : chance(50) ? 0 : 3;
        bool was_enabled = enabled(name);
        std::string before = configuration();
        EXPECT_EQ(chassis().remove(name, state), "");
        // Kept on purpose: anywhere, and nothing changes (a member leaving its trunk first only has the
        // trunk's configuration sent again). For good under a fault: the disabling is the first commit of an
        // enabled interface, so it may stay enabled; otherwise a flush may have failed, so it may stay in a
        // rule.
        if (state != IF_STATE_DELETED_FOR_GOOD) {
            EXPECT_EQ(configuration(), before) << "deleting " << name << " with state " << int(state);
            kept_.allow(lport_of(name), true, true);
        } else if (fault_hit()) {
            kept_.allow(lport_of(name), was_enabled, !was_enabled);
            EXPECT_LE(places(name), 1) << "one failed commit leaves " << name << " in one place at most";
            ++counts_["failed topology commit"];
        }
        ++counts_[state == IF_STATE_DELETED_FOR_GOOD ? "delete for good" : "delete keeping"];
        return "delete " + name + " state " + std::to_string(state);
    }

    // Adds an absent interface of the pool again (a port only where its slot has a card); nothing is sent.
    std::string step_add() {
        std::vector<std::string> names = those(pool_, [](const std::string &name) {
            auto slot_port = ids::slot_port_of(ids::ifindex_of(name));
            return !exists(name) && (!slot_port || chassis().slot_present(slot_port->first));
        });
        if (names.empty())
            return "";
        const std::string &name = one_of(names);
        uint64_t before = sent();
        EXPECT_EQ(chassis().add(name), "");
        EXPECT_EQ(sent(), before) << "adding " << name << " sends nothing";
        kept_.forget(lport_of(name));
        ++counts_["add"];
        return "add " + name;
    }

    // Picks a present port of the pool (no trunk member when free) and a present trunk; false when none.
    bool pick_pair(bool free, std::string &port, std::string &trunk) {
        auto usable = [free](const std::string &p) { return exists(p) && !(free && member(p)); };
        std::vector<std::string> ports = those(ports_, usable);
        std::vector<std::string> trunks = those(trunks_, exists);
        if (ports.empty() || trunks.empty())
            return false;
        port = one_of(ports);
        trunk = one_of(trunks);
        return true;
    }

    // A present port that is no member joins a trunk of the pool.
    std::string step_join() {
        std::string port, trunk;
        if (!pick_pair(true, port, trunk))
            return "";
        bool was_enabled = enabled(port);
        EXPECT_EQ(chassis().join(trunk, port), "");
        // The member's disabling comes first when it was enabled; otherwise a rule may keep it.
        if (fault_hit()) {
            exempt_.allow(lport_of(port), was_enabled, !was_enabled);
            EXPECT_LE(places(port), 1) << "one failed commit leaves " << port << " in one place at most";
            ++counts_["failed topology commit"];
        }
        ++counts_["join"];
        return port + " joins " + trunk;
    }

    // A member of the pool leaves its trunk: only the trunk's configuration is sent again.
    std::string step_leave() {
        std::vector<std::string> members = those(ports_, [](const std::string &p) { return exists(p) && member(p); });
        if (members.empty())
            return "";
        const std::string &port = one_of(members);
        std::string trunk = chassis().trunk_of(port);
        std::string before = configuration();
        EXPECT_EQ(chassis().leave(trunk, port), "");
        EXPECT_EQ(configuration(), before) << port << " leaving " << trunk << " changes no configuration";
        ++counts_["leave"];
        return port + " leaves " + trunk;
    }

    // A link-aggregation notification with change 2: the daemon sends nothing.
    std::string step_notify() {
        std::string port, trunk;
        if (!pick_pair(false, port, trunk))
            return "";
        uint64_t before = sent();
        EXPECT_EQ(chassis().notify(trunk, port, 2), "");
        EXPECT_EQ(sent(), before) << "notification with change 2 sends nothing";
        ++counts_["notify"];
        return "notify " + trunk + " " + port + " change 2";
    }

    // A card pulled or inserted: mostly the line cards of the pool (physical 2 and 3), sometimes another
    // line card, sometimes a CPU card (physical 0 or 1), whose events change nothing.
    std::string step_card() {
        int phy = chance(20) ? int(pick(2)) : chance(75) ? 2 + int(pick(2)) : 4 + int(pick(6));
        bool cpu = phy < 2;
        bool remove = cpu ? chance(50) : chassis().slot_present(phy + 1);
        uint64_t before = sent();
        EXPECT_EQ(remove ? chassis().remove_card(phy) : chassis().insert_card(phy), "");
        if (cpu || !remove) {
            EXPECT_EQ(sent(), before) << (remove ? "removal" : "insertion") << " of physical slot " << phy
                                      << " sends nothing";
        }
        // The removal's first commit disables all 48 ports of the card: under a fault they may stay enabled.
        bool hit = !cpu && remove && fault_hit();
        counts_["failed topology commit"] += hit;
        for (int port = 1; port <= ids::kPortsPerSlot && !cpu; ++port) {
            uint32_t lport = lport_of(ids::port_name(phy + 1, port));
            if (!remove)
                kept_.forget(lport);
            else if (hit)
                kept_.allow(lport, true, false);
        }
        ++counts_[cpu ? "CPU card" : remove ? "card removal" : "card insertion"];
        return std::string(remove ? "remove" : "insert") + " card of physical slot " + std::to_string(phy);
    }

    // One random step, under a fault in one command in five and in one topology event in two; a topology
    // event without a candidate gives way to a command. Returns its description and the fault's.
    std::string step() {
        uint32_t roll = pick(100);
        std::string fault = inject_fault(roll < 45 ? 20 : 50);
        std::string what = roll < 45   ? step_command()
                           : roll < 57 ? step_delete()
                           : roll < 69 ? step_add()
                           : roll < 78 ? step_join()
                           : roll < 85 ? step_leave()
                           : roll < 89 ? step_notify()
                                       : step_card();
        return (what.empty() ? step_command() : what) + fault;
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
    std::vector<std::string> ports_;
    std::vector<std::string> trunks_;
    std::vector<std::string> pool_;  // the ports, then the trunks
    harness::Terminal term_;
    bool injected_ = false;
    Allowance kept_;    // absent ports that may hold configuration
    Allowance exempt_;  // trunk members that may hold configuration
    std::map<std::string, int> counts_;
};

TEST_P(ChannelTopologyMirror, DaemonKernelFilterAndChassisStayInStep) {
    for (int n = 0; n < kSteps && !HasFailure(); ++n) {
        SCOPED_TRACE("seed " + std::to_string(GetParam()) + ", step " + std::to_string(n));
        std::string what = step();
        sim::kernel::wait_idle();
        bool hit = fault_hit();
        counts_["fault hit"] += hit;
        sim::kernel::clear_faults();
        // An exemption lasts while its port stays a member.
        for (std::set<uint32_t> *exempt : {&exempt_.enabled, &exempt_.rules})
            std::erase_if(*exempt, [](uint32_t lport) { return !member(name_of(lport)); });
        SCOPED_TRACE(what + (hit ? " (hit)" : ""));
        check();
    }
    if (HasFailure())
        return;
    for (const char *kind : {"enable", "disable", "add rule", "remove rule", "refused command", "delete for good",
                             "delete keeping", "add", "join", "leave", "notify", "card removal", "card insertion",
                             "CPU card", "fault hit", "failed topology commit"})
        EXPECT_GT(counts_[kind], 0) << kind << " never happened with seed " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChannelTopologyMirror, ::testing::Values(1u, 2u, 3u, 2026u));

}  // namespace
