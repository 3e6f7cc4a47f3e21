// Randomized mirror test: random commits under random kernel faults. After every commit the result is the
// one predicted, the daemon's store and settings equal what the daemon should hold, the kernel filter's
// tables equal what the kernel filter should hold, and the two sides differ only where a store failure
// (-20) or a time-out (-60) is documented to leave them apart.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>

#include "dhcpftr_db_commit.h"
#include "dhcpftr_init.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_ukcomm.h"
#include "kernel/sim_kernel.h"
#include "memory/sim_memory.h"
#include "support/daemon_harness.h"

namespace {

using Key = sim::kernel::RuleKey;
using Rules = std::map<Key, PORTLIST_T>;
using namespace std::chrono_literals;

// What one side holds.
struct Side {
    Rules rules;
    PORTLIST_T enabled{};
    int trap = 0;
    uint32_t duration = 10;
};

enum class Fault { none, refuse, fail_send, drop_answer, late_answer, slow_answer, no_memory };

bool same(const PORTLIST_T &a, const PORTLIST_T &b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

DHCPFTR_PERMIT_RULE_ENTRY_T entry_of(const Key &key, const PORTLIST_T &ports) {
    DHCPFTR_PERMIT_RULE_ENTRY_T entry{};
    std::memcpy(&entry.server_ip, key.server.data(), 4);
    std::memcpy(entry.client_mac, key.mac.data(), 6);
    entry.portlist = ports;
    return entry;
}

void apply(PORTLIST_T &list, const PORTLIST_T &ports, bool add) {
    if (add)
        PORTLIST_or(&list, &list, &ports);
    else
        PORTLIST_maskout(&list, &list, &ports);
}

class ChannelMirror : public ::testing::TestWithParam<uint32_t> {
protected:
    static constexpr int kSteps = 700;
    static constexpr size_t kKernelCapacity = 24;

    void SetUp() override {
        Dhcpftr_Init(0, 0);
        dhcpftr_wait_max_polls = 1;  // a time-out costs one poll of 100 ms
        sim::kernel::set_rule_capacity(kKernelCapacity);
        rng_.seed(GetParam());
        for (int i = 0; i < 40; ++i)
            keys_.push_back(Key{{10, 0, uint8_t(i / 3), uint8_t(1 + i % 7)}, {0, 0, 0, 0, 0, uint8_t(i % 3 ? i : 0)}});
    }

    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    bool chance(uint32_t percent) { return pick(100) < percent; }

    PORTLIST_T random_ports() {
        PORTLIST_T ports{};
        for (uint32_t i = 0, count = 1 + pick(4); i < count; ++i)
            PORTLIST_set_port(&ports, 1 + pick(12) + (chance(20) ? 640 : 0));
        return ports;
    }

    // One fault in seven steps; refusals twice as often as the others.
    void inject_random_fault() {
        static constexpr Fault kFaults[] = {Fault::refuse,      Fault::refuse,      Fault::fail_send, Fault::drop_answer,
                                            Fault::late_answer, Fault::slow_answer, Fault::no_memory};
        fault_ = pick(20) < 7 ? kFaults[pick(7)] : Fault::none;
        refusal_ = chance(50) ? sim::kernel::kNoResource : -1 - static_cast<int32_t>(pick(40));
        switch (fault_) {
        case Fault::refuse: sim::kernel::refuse_next(1, refusal_); break;
        case Fault::fail_send: sim::kernel::fail_next_sends(1); break;
        case Fault::drop_answer: sim::kernel::drop_next_answers(1); break;
        case Fault::late_answer: sim::kernel::set_answer_delay(60s); break;  // released after the wait gave up
        case Fault::slow_answer: sim::kernel::set_answer_delay(10ms); break;  // within the first poll
        case Fault::no_memory: sim::memory::fail_next_allocations(1); break;
        case Fault::none: break;
        }
    }

    // The result of a commit of operation code op that would send a message; sets kernel_applies when the
    // kernel filter takes the change. kernel_refuses is the kernel filter's own refusal (capacity), 0 when it
    // has none. A dropped answer stays due until the test delivers it: meanwhile nothing of op is sent.
    int32_t sent_result(uint32_t op, int32_t kernel_refuses, bool &kernel_applies) {
        kernel_applies = false;
        if (due_ & (1u << op))
            return DHCPFTR_RET_TIMEOUT;
        if (fault_ == Fault::drop_answer)
            due_ |= 1u << op;
        if (fault_ == Fault::fail_send)
            return DHCPFTR_RET_SEND_FAIL;
        if (fault_ == Fault::refuse)
            return refusal_;
        kernel_applies = kernel_refuses == 0;
        if (fault_ == Fault::drop_answer || fault_ == Fault::late_answer)
            return DHCPFTR_RET_TIMEOUT;  // whatever the kernel filter answered, it came too late
        return kernel_refuses;
    }

    int32_t step_rule(std::string &what) {
        Key key = keys_[pick(keys_.size())];
        auto stored = daemon_.rules.find(key);
        bool add = chance(55);
        PORTLIST_T ports = !add && stored != daemon_.rules.end() && chance(40) ? stored->second : random_ports();
        bool stacking = !add && chance(30);
        what = add ? "add rule" : stacking ? "stacking delete rule" : "delete rule";
        int32_t expected = 0;
        bool applies = false;
        if (add) {
            bool full = !kernel_.rules.count(key) && kernel_.rules.size() >= kKernelCapacity;
            expected = sent_result(DHCPFTR_OP_ADD_RULE, full ? sim::kernel::kNoResource : 0, applies);
            if (expected == 0 && stored == daemon_.rules.end() && fault_ == Fault::no_memory)
                expected = DHCPFTR_RET_DB_FAIL;
        } else if (stored != daemon_.rules.end() && PORTLIST_chk_overlap(&stored->second, &ports)) {
            expected = sent_result(stacking ? DHCPFTR_OP_STK_DEL_RULE : DHCPFTR_OP_DEL_RULE, 0, applies);
        }
        auto update = [&](Rules &rules) {
            if (!add && !rules.count(key))
                return;
            apply(rules[key], ports, add);
            if (PORTLIST_chk_empty(&rules[key]))
                rules.erase(key);
        };
        if (applies)
            update(kernel_.rules);
        if (expected == 0 && (add || stored != daemon_.rules.end()))
            update(daemon_.rules);
        if (expected == DHCPFTR_RET_DB_FAIL || expected == DHCPFTR_RET_TIMEOUT)
            apart_.insert(key);

        DHCPFTR_PERMIT_RULE_ENTRY_T entry = entry_of(key, ports);
        int32_t result = 1;
        (add ? Dhcpftr_DB_Update_Rule : stacking ? Dhcpftr_DB_Stk_Delete_Rule_to_K : Dhcpftr_DB_Delete_Rule_to_K)(
            &entry, &result);
        EXPECT_EQ(result, expected) << what;
        return result;
    }

    // A port commit, with the caller's update of the enabled-port list.
    int32_t step_ports(std::string &what) {
        PORTLIST_T ports = random_ports();
        bool enable = chance(55);
        what = enable ? "enable ports" : "disable ports";
        bool applies;
        int32_t expected = sent_result(enable ? DHCPFTR_OP_ADD_PORTS : DHCPFTR_OP_DEL_PORTS, 0, applies);
        if (applies)
            apply(kernel_.enabled, ports, enable);
        if (expected == 0)
            apply(daemon_.enabled, ports, enable);
        enabled_apart_ |= expected == DHCPFTR_RET_TIMEOUT;

        int32_t result = 1;
        (enable ? Dhcpftr_DB_Update_Ports_to_K : Dhcpftr_DB_Delete_Ports_to_K)(&ports, &result);
        EXPECT_EQ(result, expected) << what;
        if (result == 0)
            apply(dhcpftr_cfg_portlist_db, ports, enable);
        return result;
    }

    // A trap or duration commit; its predicted outcome stands for the result it does not have.
    int32_t step_setting(std::string &what) {
        bool trap = chance(50);
        uint32_t value = trap ? pick(2) : 8 + pick(5);
        what = (trap ? "trap " : "duration ") + std::to_string(value);
        bool applies = false;
        uint32_t op = trap ? DHCPFTR_OP_SET_TRAP : DHCPFTR_OP_SET_DURATION;
        int32_t expected = trap || value != daemon_.duration ? sent_result(op, 0, applies) : 0;
        auto set = [&](Side &side) {
            if (trap)
                side.trap = int(value);
            else
                side.duration = value;
        };
        if (applies)
            set(kernel_);
        if (expected == 0)
            set(daemon_);
        settings_apart_ |= expected == DHCPFTR_RET_TIMEOUT;
        (trap ? Dhcpftr_DB_Set_Trap_to_K : Dhcpftr_DB_Set_Trap_duration_to_K)(value);
        return expected;
    }

    // The answers dropped so far arrive after all, as late answers.
    void deliver_dropped_answers() {
        for (uint32_t op = 0; op <= DHCPFTR_OP_MAX; ++op) {
            if (due_ & (1u << op)) {
                DHCPFTR_K_VALUE_MSG_T answer{op, 0};
                Dhcpftr_U_value_msg_process(DHCPFTR_K_VALUE_MSG, &answer, sizeof(answer));
            }
        }
        due_ = 0;
    }

    void check_sides() {
        sim::kernel::Tables tables = sim::kernel::tables();
        Rules stored = harness::stored_rules();
        ASSERT_EQ(harness::rule_lines(stored), harness::rule_lines(daemon_.rules)) << "the daemon's store";
        ASSERT_EQ(harness::rule_lines(tables.rules), harness::rule_lines(kernel_.rules)) << "the kernel filter's rules";
        for (const auto &[key, ports] : stored) {
            ASSERT_FALSE(PORTLIST_chk_empty(&ports)) << "no stored rule is empty";
            auto k = tables.rules.find(key);
            ASSERT_TRUE(apart_.count(key) || (k != tables.rules.end() && same(k->second, ports)))
                << "daemon and kernel filter agree";
        }
        ASSERT_TRUE(same(dhcpftr_cfg_portlist_db, daemon_.enabled));
        ASSERT_TRUE(same(tables.enabled, kernel_.enabled));
        ASSERT_TRUE(enabled_apart_ || same(tables.enabled, dhcpftr_cfg_portlist_db));
        ASSERT_EQ(_dhcpftr_is_trap_enable(), daemon_.trap);
        ASSERT_EQ(_dhcpftr_get_trap_duration(), daemon_.duration);
        ASSERT_EQ(int(tables.trap), kernel_.trap);
        ASSERT_EQ(tables.duration, kernel_.duration);
        ASSERT_TRUE(settings_apart_ || (int(tables.trap) == daemon_.trap && tables.duration == daemon_.duration));
    }

    std::mt19937 rng_;
    std::vector<Key> keys_;
    Fault fault_ = Fault::none;
    int32_t refusal_ = 0;
    Side daemon_;
    Side kernel_;
    uint32_t due_ = 0;  // codes whose answer was dropped and not delivered since
    std::set<Key> apart_;
    bool enabled_apart_ = false;
    bool settings_apart_ = false;
};

TEST_P(ChannelMirror, DaemonAndKernelFilterStayInStep) {
    std::map<int32_t, int> results;
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        SCOPED_TRACE("seed " + std::to_string(GetParam()) + ", step " + std::to_string(step));
        if (due_ != 0 && chance(25))
            deliver_dropped_answers();
        inject_random_fault();
        std::string what;
        uint32_t kind = pick(10);
        int32_t result = kind < 7 ? step_rule(what) : kind < 9 ? step_ports(what) : step_setting(what);
        ++results[result];
        sim::kernel::set_answer_delay(0ms);  // a late answer arrives now, before the sides are compared
        sim::kernel::wait_idle();
        sim::kernel::clear_faults();
        sim::memory::fail_next_allocations(0);
        SCOPED_TRACE(what + ", fault " + std::to_string(int(fault_)) + ", result " + std::to_string(result));
        check_sides();
    }
    for (int32_t r : {0, DHCPFTR_RET_DB_FAIL, DHCPFTR_RET_SEND_FAIL, DHCPFTR_RET_TIMEOUT, DHCPFTR_RET_NO_RESOURCE})
        EXPECT_GT(results[r], 0) << "result " << r << " never happened with seed " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChannelMirror, ::testing::Values(1u, 2u, 3u, 2026u));

}  // namespace
