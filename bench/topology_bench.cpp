// Benchmarks of topology events with a full rule table: what one event costs the daemon, with the simulated
// kernel filter answering on its own thread.
//
// The table: 255 permit rules, each holding ports 1 to 4 of every slot (eth1.1-1.4 to eth10.1-10.4) and the
// trunk port-channel1, and those 41 ports enabled. The switch is booted in this process (the simulated
// chassis's default: 10 slots of 48 ports, trunks port-channel1 to port-channel8) the first time one of
// these benchmarks runs.
//
//   BM_CardRemoval/waking_wait, BM_CardRemoval/fixed_poll
//       the line card of physical slot 5 (user slot 6) pulled: the stacking callback disables the slot's 48
//       ports and flushes them from every rule, one exchange per rule, then the slot's interfaces are
//       deleted; 256 exchanges
//   BM_TrunkJoin/waking_wait, BM_TrunkJoin/fixed_poll
//       eth1.1, enabled and in every rule, joins port-channel1, enabled and in every rule: the port is
//       disabled, the trunk enabled again, and in every rule the port is taken out and the trunk put in
//       again, two exchanges per rule; 512 exchanges
//   BM_InterfaceDeletion/waking_wait, BM_InterfaceDeletion/fixed_poll
//       eth3.3, enabled and in every rule, deleted for good (state 1): disabled, then flushed from every
//       rule; 256 exchanges
//
// The waking wait and the fixed 100 ms poll of dhcpftr_wait_fixed_poll are measured side by side. With the
// fixed poll an exchange costs up to a whole poll (it costs next to nothing only when the answer was in at
// the waiter's first look), so an event costs up to 25.6 s (51.2 s for the trunk join): those variants run
// one iteration only (Iterations(1)), up to about two minutes for the three of them.
//
// Each iteration checks its work after the event (the exchanges the kernel filter received, the daemon's
// rules, enabled and present ports, the kernel filter's tables equal to the daemon's) and then puts the
// topology and the table back outside the timing, always with the waking wait: the card inserted again, the
// port out of the trunk again, the interface added again, and the ports enabled and in every rule again. It
// stops with an error, making the program exit with 1, at the first thing that is wrong. The counter
// "exchanges" is the number of kernel exchanges of one event, "per_exchange" the time of an event divided
// by them. After the table the program prints each pair of waking wait and fixed poll with their ratio.
//
// The log keeps its default: no sink, so the lines the events write are formatted but go nowhere.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "if_table.h"
#include "init/sim_framework.h"
#include "kernel/sim_kernel.h"
#include "portlist.h"
#include "qv_init.h"
#include "wait_comparison.h"

namespace {

using bench::kFixedPoll;
using bench::kWakingWait;
using bench::WaitMode;

constexpr int kRemovedPhySlot = 5;
constexpr int kRemovedUserSlot = kRemovedPhySlot + 1;
constexpr int kJoiningSlot = 1;
constexpr int kJoiningPort = 1;
constexpr int kJoinedTrunk = 1;
constexpr int kDeletedSlot = 3;
constexpr int kDeletedPort = 3;

uint32_t port_lport(int user_slot, int port) { return if_ifindex_to_st_lport(sim::ids::port_ifindex(user_slot, port)); }

uint32_t trunk_lport(int trunk) { return if_ifindex_to_st_lport(sim::ids::trunk_ifindex(trunk)); }

// The 48 ports of a user slot.
PORTLIST_T slot_ports(int user_slot) {
    PORTLIST_T ports;
    PORTLIST_clear_all(&ports);
    for (int port = 1; port <= sim::ids::kPortsPerSlot; ++port)
        PORTLIST_set_port(&ports, port_lport(user_slot, port));
    return ports;
}

PORTLIST_T single_port(uint32_t lport) {
    PORTLIST_T ports;
    PORTLIST_clear_all(&ports);
    PORTLIST_set_port(&ports, lport);
    return ports;
}

// The ports of a that are also in b.
PORTLIST_T common_ports(const PORTLIST_T &a, const PORTLIST_T &b) {
    PORTLIST_T outside;
    PORTLIST_T common;
    PORTLIST_maskout(&outside, &a, &b);
    PORTLIST_maskout(&common, &a, &outside);
    return common;
}

bool same_ports(const PORTLIST_T &a, const PORTLIST_T &b) { return memcmp(&a, &b, sizeof(PORTLIST_T)) == 0; }

std::string result_error(const char *what, int32_t result) {
    return std::string(what) + " gave " + std::to_string(result);
}

uint64_t kernel_received() { return sim::kernel::counters().received; }

// --- the switch and the table ---------------------------------------------------------------------------

// Boots the simulated switch with the daemon in this process, once: the daemon's entry points, the NSM
// client up (the interface hooks and the stacking callbacks registered), the port and trunk interfaces.
// The module initialiser creates the store afresh; the one main created is empty by then and stays behind.
void boot_switch_once() {
    static const bool booted = [] {
        QV_INIT_T *rec = QV_INIT_alloc();
        _dhcpftr_fill_init_record(rec);
        return sim::framework::boot(rec, {});
    }();
    (void)booted;
}

// Empty when the kernel filter's rules and enabled ports equal the daemon's store and enabled-port list,
// else what differs.
std::string kernel_mismatch() {
    sim::kernel::Tables tables = sim::kernel::tables();
    if (!same_ports(tables.enabled, dhcpftr_cfg_portlist_db))
        return "the kernel filter's enabled ports differ from the daemon's";
    size_t stored = 0;
    for (DHCPFTR_PERMIT_RULE_ENTRY_T *rule = Dhcpftr_DB_Get_First_Rule(); rule != nullptr;
         rule = Dhcpftr_DB_Get_Next_Rule(rule), ++stored) {
        sim::kernel::RuleKey key;
        memcpy(key.server.data(), &rule->server_ip, key.server.size());
        memcpy(key.mac.data(), rule->client_mac, key.mac.size());
        auto it = tables.rules.find(key);
        if (it == tables.rules.end() || !same_ports(it->second, rule->portlist))
            return "the kernel filter lacks a stored rule or holds other ports for it";
    }
    if (tables.rules.size() != stored)
        return "the kernel filter holds " + std::to_string(tables.rules.size()) + " rules, the store " +
               std::to_string(stored);
    return "";
}

// The 255 rules and their 41 enabled ports, committed through the kernel filter for as long as a
// benchmark runs, and the topology every iteration must come back to.
class FullTable {
public:
    FullTable() {
        boot_switch_once();
        PORTLIST_clear_all(&ports_);
        for (int slot = 1; slot <= sim::ids::kSlots; ++slot)
            for (int port = 1; port <= 4; ++port)
                PORTLIST_set_port(&ports_, port_lport(slot, port));
        PORTLIST_set_port(&ports_, trunk_lport(kJoinedTrunk));
        for (int i = 0; i < DHCPFTR_MAX_RULES; ++i) {
            DHCPFTR_PERMIT_RULE_ENTRY_T rule{};
            char server[32];
            snprintf(server, sizeof(server), "10.%d.%d.1", i / 16, i % 16);
            rule.server_ip = inet_addr(server);
            if (i % 2 == 1)  // odd rules for one client, even rules for all clients
                rule.client_mac[5] = static_cast<uint8_t>(i);
            rule.portlist = ports_;
            rules_.push_back(rule);
        }
        error_ = build();
    }

    // Puts the topology back if a benchmark stopped before it did, takes the rules out and disables the
    // ports again, so that the store and the kernel filter are empty for the benchmarks that follow.
    ~FullTable() {
        WaitMode mode(kWakingWait);
        sim::Chassis &chassis = sim::Chassis::instance();
        std::string joining = sim::ids::port_name(kJoiningSlot, kJoiningPort);
        if (!chassis.slot_present(kRemovedUserSlot))
            chassis.insert_card(kRemovedPhySlot);
        if (!chassis.trunk_of(joining).empty())
            chassis.leave(chassis.trunk_of(joining), joining);
        if (chassis.find(sim::ids::port_name(kDeletedSlot, kDeletedPort)) == nullptr)
            chassis.add(sim::ids::port_name(kDeletedSlot, kDeletedPort));
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : rules_) {
            DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule;
            int32_t result = -1;
            if (Dhcpftr_DB_Get_Rule(&entry) != nullptr)
                Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
        }
        PORTLIST_T enabled = dhcpftr_cfg_portlist_db;
        int32_t result = -1;
        Dhcpftr_DB_Delete_Ports_to_K(&enabled, &result);
        if (result == DHCPFTR_RET_OK)
            PORTLIST_clear_all(&dhcpftr_cfg_portlist_db);
    }

    FullTable(const FullTable &) = delete;
    FullTable &operator=(const FullTable &) = delete;

    // Empty when the table was built, else why not.
    const std::string &error() const { return error_; }
    // The ports of every rule, which are also the enabled ports.
    const PORTLIST_T &ports() const { return ports_; }

    // Enables the ports of `ports` that the table enables and puts them into every rule again, as the
    // operator would configure them again; empty when every commit was accepted.
    std::string give_back(const PORTLIST_T &ports) const {
        PORTLIST_T wanted = common_ports(ports, ports_);
        int32_t result = -1;
        Dhcpftr_DB_Update_Ports_to_K(&wanted, &result);
        if (result != DHCPFTR_RET_OK)
            return result_error("enabling the ports again", result);
        PORTLIST_or(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &wanted);
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : rules_) {
            DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule;
            entry.portlist = wanted;
            Dhcpftr_DB_Update_Rule(&entry, &result);
            if (result != DHCPFTR_RET_OK)
                return result_error("putting the ports into a rule again", result);
        }
        return "";
    }

    // Empty when the daemon and the kernel filter hold the whole table again and every port of the start is
    // present again, else what is wrong.
    std::string whole() const {
        if (Dhcpftr_DB_entry_number() != DHCPFTR_MAX_RULES)
            return "the store holds " + std::to_string(Dhcpftr_DB_entry_number()) + " rules";
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : rules_) {
            DHCPFTR_PERMIT_RULE_ENTRY_T key = rule;
            DHCPFTR_PERMIT_RULE_ENTRY_T *stored = Dhcpftr_DB_Get_Rule(&key);
            if (stored == nullptr || !same_ports(stored->portlist, ports_))
                return "a rule is missing or holds other ports than at the start";
        }
        if (!same_ports(dhcpftr_cfg_portlist_db, ports_))
            return "the enabled ports differ from the start";
        if (!same_ports(dhcpftr_portlist_db, present_))
            return "the present ports differ from the start";
        return kernel_mismatch();
    }

    // Empty when no rule holds a port of `gone`, and every rule holds the ports of `kept`.
    std::string rules_hold(const PORTLIST_T &gone, const PORTLIST_T &kept) const {
        if (Dhcpftr_DB_entry_number() != DHCPFTR_MAX_RULES)
            return "the store holds " + std::to_string(Dhcpftr_DB_entry_number()) + " rules";
        for (DHCPFTR_PERMIT_RULE_ENTRY_T *rule = Dhcpftr_DB_Get_First_Rule(); rule != nullptr;
             rule = Dhcpftr_DB_Get_Next_Rule(rule)) {
            if (PORTLIST_chk_overlap(&rule->portlist, &gone))
                return "a rule still holds a port it should have lost";
            if (!same_ports(common_ports(rule->portlist, kept), kept))
                return "a rule lost a port it should have kept";
        }
        return "";
    }

private:
    std::string build() {
        if (Dhcpftr_DB_entry_number() != 0 || !sim::kernel::tables().rules.empty())
            return "the store or the kernel filter is not empty at the start";
        if (!sim::Chassis::instance().slot_present(kRemovedUserSlot) ||
            !sim::Chassis::instance().trunk_of(sim::ids::port_name(kJoiningSlot, kJoiningPort)).empty() ||
            sim::Chassis::instance().find(sim::ids::port_name(kDeletedSlot, kDeletedPort)) == nullptr)
            return "the chassis is not in its default topology";
        present_ = dhcpftr_portlist_db;
        if (!same_ports(common_ports(ports_, present_), ports_))
            return "a port of the table is not present";
        WaitMode mode(kWakingWait);
        PORTLIST_T enabled = ports_;
        int32_t result = -1;
        Dhcpftr_DB_Update_Ports_to_K(&enabled, &result);
        if (result != DHCPFTR_RET_OK)
            return result_error("enabling the ports", result);
        PORTLIST_or(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &enabled);
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : rules_) {
            DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule;
            Dhcpftr_DB_Update_Rule(&entry, &result);
            if (result != DHCPFTR_RET_OK)
                return result_error("a rule creation", result);
        }
        return whole();
    }

    PORTLIST_T ports_;
    PORTLIST_T present_;
    std::vector<DHCPFTR_PERMIT_RULE_ENTRY_T> rules_;
    std::string error_;
};

// --- the events -----------------------------------------------------------------------------------------

// One topology event: what makes it happen, how many exchanges it costs, what it must have done, and how
// the topology and the table are put back. Each step returns the empty text when all went right, else what
// went wrong.
struct Event {
    uint64_t exchanges;
    std::string (*cause)();
    std::string (*check)(const FullTable &table);
    std::string (*restore)(const FullTable &table);
};

void run_event(benchmark::State &state, int fixed_poll, const Event &event) {
    FullTable table;
    if (!table.error().empty()) {
        state.SkipWithError(table.error().c_str());
        return;
    }
    WaitMode mode(fixed_poll);
    uint64_t before = kernel_received();

    for (auto _ : state) {
        std::string wrong = event.cause();

        state.PauseTiming();
        uint64_t exchanges = kernel_received() - before;
        if (wrong.empty() && exchanges != event.exchanges)
            wrong = "the event made " + std::to_string(exchanges) + " exchanges, not " +
                    std::to_string(event.exchanges);
        if (wrong.empty())
            wrong = event.check(table);
        if (wrong.empty())
            wrong = kernel_mismatch();
        if (wrong.empty()) {
            dhcpftr_wait_fixed_poll = kWakingWait;
            wrong = event.restore(table);
            dhcpftr_wait_fixed_poll = fixed_poll;
        }
        if (wrong.empty())
            wrong = table.whole();
        if (!wrong.empty()) {
            state.SkipWithError(wrong.c_str());
            return;
        }
        before = kernel_received();
        state.ResumeTiming();
    }
    state.counters["exchanges"] = static_cast<double>(event.exchanges);
    state.counters["per_exchange"] = benchmark::Counter(
        static_cast<double>(event.exchanges),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The line card of physical slot 5 pulled.
const Event kCardRemoval = {
    1 + DHCPFTR_MAX_RULES,
    [] { return sim::Chassis::instance().remove_card(kRemovedPhySlot); },
    [](const FullTable &table) -> std::string {
        PORTLIST_T slot = slot_ports(kRemovedUserSlot);
        PORTLIST_T kept;
        PORTLIST_maskout(&kept, &table.ports(), &slot);
        if (PORTLIST_chk_overlap(&dhcpftr_cfg_portlist_db, &slot) || PORTLIST_chk_overlap(&dhcpftr_portlist_db, &slot))
            return "a port of the removed card is still enabled or present";
        if (!same_ports(dhcpftr_cfg_portlist_db, kept))
            return "the removal changed the enabling of other ports";
        if (sim::Chassis::instance().slot_present(kRemovedUserSlot))
            return "the slot still has its card";
        return table.rules_hold(slot, kept);
    },
    [](const FullTable &table) -> std::string {
        std::string wrong = sim::Chassis::instance().insert_card(kRemovedPhySlot);
        return wrong.empty() ? table.give_back(slot_ports(kRemovedUserSlot)) : wrong;
    },
};

// eth1.1 joins port-channel1.
const Event kTrunkJoin = {
    2 + 2 * DHCPFTR_MAX_RULES,
    [] {
        return sim::Chassis::instance().join(sim::ids::trunk_name(kJoinedTrunk),
                                             sim::ids::port_name(kJoiningSlot, kJoiningPort));
    },
    [](const FullTable &table) -> std::string {
        PORTLIST_T member = single_port(port_lport(kJoiningSlot, kJoiningPort));
        PORTLIST_T kept;
        PORTLIST_maskout(&kept, &table.ports(), &member);
        if (sim::Chassis::instance().trunk_of(sim::ids::port_name(kJoiningSlot, kJoiningPort)) !=
            sim::ids::trunk_name(kJoinedTrunk))
            return "the port is not a member of the trunk";
        if (!same_ports(dhcpftr_cfg_portlist_db, kept))
            return "the member is still enabled, or the trunk or another port is not";
        return table.rules_hold(member, kept);
    },
    [](const FullTable &table) -> std::string {
        std::string port = sim::ids::port_name(kJoiningSlot, kJoiningPort);
        std::string wrong = sim::Chassis::instance().leave(sim::ids::trunk_name(kJoinedTrunk), port);
        return wrong.empty() ? table.give_back(single_port(port_lport(kJoiningSlot, kJoiningPort))) : wrong;
    },
};

// eth3.3 deleted for good.
const Event kInterfaceDeletion = {
    1 + DHCPFTR_MAX_RULES,
    [] {
        return sim::Chassis::instance().remove(sim::ids::port_name(kDeletedSlot, kDeletedPort),
                                               IF_STATE_DELETED_FOR_GOOD);
    },
    [](const FullTable &table) -> std::string {
        uint32_t lport = port_lport(kDeletedSlot, kDeletedPort);
        PORTLIST_T gone = single_port(lport);
        PORTLIST_T kept;
        PORTLIST_maskout(&kept, &table.ports(), &gone);
        if (PORTLIST_chk_port_exist(&dhcpftr_portlist_db, lport))
            return "the deleted port is still present";
        if (!same_ports(dhcpftr_cfg_portlist_db, kept))
            return "the deleted port is still enabled, or another port is not";
        return table.rules_hold(gone, kept);
    },
    [](const FullTable &table) -> std::string {
        std::string wrong = sim::Chassis::instance().add(sim::ids::port_name(kDeletedSlot, kDeletedPort));
        return wrong.empty() ? table.give_back(single_port(port_lport(kDeletedSlot, kDeletedPort))) : wrong;
    },
};

void BM_CardRemoval(benchmark::State &state, int fixed_poll) { run_event(state, fixed_poll, kCardRemoval); }
void BM_TrunkJoin(benchmark::State &state, int fixed_poll) { run_event(state, fixed_poll, kTrunkJoin); }
void BM_InterfaceDeletion(benchmark::State &state, int fixed_poll) {
    run_event(state, fixed_poll, kInterfaceDeletion);
}

BENCHMARK_CAPTURE(BM_CardRemoval, waking_wait, kWakingWait)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CardRemoval, fixed_poll, kFixedPoll)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrunkJoin, waking_wait, kWakingWait)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrunkJoin, fixed_poll, kFixedPoll)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InterfaceDeletion, waking_wait, kWakingWait)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InterfaceDeletion, fixed_poll, kFixedPoll)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// --- the summary ----------------------------------------------------------------------------------------

// The exchanges of one event and, with each wait, what one exchange cost.
std::string exchanges_note(const bench::Figures &waking, const bench::Figures &fixed) {
    double exchanges = fixed.mean("exchanges");
    if (exchanges == 0)
        return "";
    char text[128];
    snprintf(text, sizeof(text), "%.0f exchanges: %.1f us and %.1f ms each", exchanges,
             waking.seconds / waking.runs / exchanges * 1e6, fixed.seconds / fixed.runs / exchanges * 1e3);
    return text;
}

[[maybe_unused]] const bool kComparisonsAdded =
    bench::add_comparison({"line-card removal", "BM_CardRemoval", 1e3, "ms", exchanges_note}) &&
    bench::add_comparison({"trunk join", "BM_TrunkJoin", 1e3, "ms", exchanges_note}) &&
    bench::add_comparison({"interface deletion for good", "BM_InterfaceDeletion", 1e3, "ms", exchanges_note});

}  // namespace
