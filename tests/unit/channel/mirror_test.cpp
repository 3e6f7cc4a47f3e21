// Randomized mirror test: random commits under random kernel faults. After every commit the result is the
// one predicted, the daemon's store and settings equal what the daemon should hold, the kernel filter's
// tables equal what the kernel filter should hold, and the two sides differ only where a store failure
// (-20) or a time-out (-60) is documented to leave them apart.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>

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

// What one side holds.
struct Side {
    Rules rules;
    PORTLIST_T enabled{};
    int trap = 0;
    uint32_t duration = 10;
};

enum class Fault { none, refuse, fail_send, drop_answer, late_answer, slow_answer, no_memory };

bool same(const PORTLIST_T &a, const PORTLIST_T &b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

std::string describe(const Rules &rules) {
    std::ostringstream out;
    for (const auto &[key, ports] : rules) {
        out << int(key.server[0]) << "." << int(key.server[1]) << "." << int(key.server[2]) << "." << int(key.server[3])
            << "/" << int(key.mac[5]) << ":";
        for (uint32_t p : harness::lports(ports))
            out << " " << p;
        out << "\n";
    }
    return out.str();
}

Rules daemon_rules() {
    Rules rules;
    for (DHCPFTR_PERMIT_RULE_ENTRY_T *e = Dhcpftr_DB_Get_First_Rule(); e != nullptr; e = Dhcpftr_DB_Get_Next_Rule(e)) {
        Key key;
        std::memcpy(key.server.data(), &e->server_ip, 4);
        std::memcpy(key.mac.data(), e->client_mac, 6);
        rules[key] = e->portlist;
    }
    return rules;
}

class ChannelMirror : public ::testing::TestWithParam<uint32_t> {
protected:
    static constexpr int kSteps = 700;
    static constexpr size_t kKernelCapacity = 24;

    void SetUp() override {
        Dhcpftr_Init(0, 0);
        dhcpftr_wait_max_polls = 1;  // a time-out costs one poll of 100 ms
        rng_.seed(GetParam());
        for (int i = 0; i < 40; ++i) {
            Key key;
            key.server = {10, 0, uint8_t(i / 3), uint8_t(1 + i % 7)};
            key.mac = {0, 0, 0, 0, 0, uint8_t(i % 3 == 0 ? 0 : i)};
            keys_.push_back(key);
        }
    }

    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    bool chance(int percent) { return pick(100) < static_cast<uint32_t>(percent); }

    PORTLIST_T random_ports() {
        PORTLIST_T ports{};
        int count = 1 + static_cast<int>(pick(4));
        for (int i = 0; i < count; ++i)
            PORTLIST_set_port(&ports, 1 + pick(12) + (chance(20) ? 640 : 0));
        return ports;
    }

    Fault random_fault() {
        switch (pick(20)) {
        case 0:
        case 1:
            return Fault::refuse;
        case 2:
            return Fault::fail_send;
        case 3:
            return Fault::drop_answer;
        case 4:
            return Fault::late_answer;
        case 5:
            return Fault::slow_answer;
        case 6:
            return Fault::no_memory;
        default:
            return Fault::none;
        }
    }

    void inject(Fault fault, int32_t refusal) {
        switch (fault) {
        case Fault::refuse:
            sim::kernel::refuse_next(1, refusal);
            break;
        case Fault::fail_send:
            sim::kernel::fail_next_sends(1);
            break;
        case Fault::drop_answer:
            sim::kernel::drop_next_answers(1);
            break;
        case Fault::late_answer:
            sim::kernel::set_answer_delay(std::chrono::milliseconds(150));
            break;
        case Fault::slow_answer:
            sim::kernel::set_answer_delay(std::chrono::milliseconds(30));
            break;
        case Fault::no_memory:
            sim::memory::fail_next_allocations(1);
            break;
        case Fault::none:
            break;
        }
    }

    // The result of a commit that sends a message, given the fault, and whether the kernel filter applies it.
    // `kernel_refuses` is the kernel filter's own refusal (capacity) when no fault decides first.
    static int32_t sent_result(Fault fault, int32_t refusal, int32_t kernel_refuses, bool &kernel_applies) {
        kernel_applies = false;
        if (fault == Fault::fail_send)
            return DHCPFTR_RET_SEND_FAIL;
        if (fault == Fault::refuse)
            return refusal;
        kernel_applies = kernel_refuses == 0;
        if (fault == Fault::drop_answer || fault == Fault::late_answer)
            return DHCPFTR_RET_TIMEOUT;  // whatever the kernel filter answered, it came too late
        return kernel_refuses;
    }

    int32_t step_update(Fault fault, int32_t refusal, std::string &what) {
        Key key = keys_[pick(keys_.size())];
        PORTLIST_T ports = random_ports();
        what = "update";
        bool stored = daemon_.rules.count(key) != 0;
        int32_t kernel_refuses =
            !kernel_.rules.count(key) && kernel_.rules.size() >= kKernelCapacity ? sim::kernel::kNoResource : 0;
        bool applies;
        int32_t expected = sent_result(fault, refusal, kernel_refuses, applies);
        if (applies) {
            PORTLIST_T &k = kernel_.rules[key];
            PORTLIST_or(&k, &k, &ports);
        }
        if (expected == 0 && !stored && fault == Fault::no_memory)
            expected = DHCPFTR_RET_DB_FAIL;
        if (expected == 0) {
            PORTLIST_T &d = daemon_.rules[key];
            PORTLIST_or(&d, &d, &ports);
        }
        if (expected == DHCPFTR_RET_DB_FAIL || expected == DHCPFTR_RET_TIMEOUT)
            apart_.insert(key);

        DHCPFTR_PERMIT_RULE_ENTRY_T entry{};
        std::memcpy(&entry.server_ip, key.server.data(), 4);
        std::memcpy(entry.client_mac, key.mac.data(), 6);
        entry.portlist = ports;
        int32_t result = 1;
        Dhcpftr_DB_Update_Rule(&entry, &result);
        EXPECT_EQ(result, expected) << what;
        return result;
    }

    int32_t step_delete(Fault fault, int32_t refusal, std::string &what) {
        Key key = keys_[pick(keys_.size())];
        auto stored = daemon_.rules.find(key);
        PORTLIST_T ports = stored != daemon_.rules.end() && chance(40) ? stored->second : random_ports();
        bool stacking = chance(30);
        what = stacking ? "stacking delete" : "delete";
        int32_t expected = 0;
        if (stored != daemon_.rules.end() && PORTLIST_chk_overlap(&stored->second, &ports)) {
            bool applies;
            expected = sent_result(fault, refusal, 0, applies);
            if (applies) {
                auto k = kernel_.rules.find(key);
                if (k != kernel_.rules.end()) {
                    PORTLIST_maskout(&k->second, &k->second, &ports);
                    if (PORTLIST_chk_empty(&k->second))
                        kernel_.rules.erase(k);
                }
            }
            if (expected == 0) {
                PORTLIST_maskout(&stored->second, &stored->second, &ports);
                if (PORTLIST_chk_empty(&stored->second))
                    daemon_.rules.erase(stored);
            }
            if (expected == DHCPFTR_RET_TIMEOUT)
                apart_.insert(key);
        }
        DHCPFTR_PERMIT_RULE_ENTRY_T entry{};
        std::memcpy(&entry.server_ip, key.server.data(), 4);
        std::memcpy(entry.client_mac, key.mac.data(), 6);
        entry.portlist = ports;
        int32_t result = 1;
        (stacking ? Dhcpftr_DB_Stk_Delete_Rule_to_K : Dhcpftr_DB_Delete_Rule_to_K)(&entry, &result);
        EXPECT_EQ(result, expected) << what;
        return result;
    }

    // A port commit, with the caller's update of the enabled-port list.
    int32_t step_ports(Fault fault, int32_t refusal, std::string &what) {
        PORTLIST_T ports = random_ports();
        bool enable = chance(55);
        what = enable ? "enable ports" : "disable ports";
        bool applies;
        int32_t expected = sent_result(fault, refusal, 0, applies);
        auto apply = [&](PORTLIST_T &list) {
            if (enable)
                PORTLIST_or(&list, &list, &ports);
            else
                PORTLIST_maskout(&list, &list, &ports);
        };
        if (applies)
            apply(kernel_.enabled);
        if (expected == 0)
            apply(daemon_.enabled);
        if (expected == DHCPFTR_RET_TIMEOUT)
            enabled_apart_ = true;

        int32_t result = 1;
        (enable ? Dhcpftr_DB_Update_Ports_to_K : Dhcpftr_DB_Delete_Ports_to_K)(&ports, &result);
        EXPECT_EQ(result, expected) << what;
        if (result == 0)
            apply(dhcpftr_cfg_portlist_db);
        return result;
    }

    int32_t step_setting(Fault fault, int32_t refusal, std::string &what) {
        bool trap = chance(50);
        bool applies;
        if (trap) {
            uint32_t state = pick(2);
            what = "trap " + std::to_string(state);
            int32_t expected = sent_result(fault, refusal, 0, applies);
            if (applies)
                kernel_.trap = static_cast<int>(state);
            if (expected == 0)
                daemon_.trap = static_cast<int>(state);
            if (expected == DHCPFTR_RET_TIMEOUT)
                settings_apart_ = true;
            Dhcpftr_DB_Set_Trap_to_K(state);
            return expected;
        }
        uint32_t minutes = 8 + pick(5);
        what = "duration " + std::to_string(minutes);
        int32_t expected = 0;
        if (minutes != daemon_.duration) {
            expected = sent_result(fault, refusal, 0, applies);
            if (applies)
                kernel_.duration = minutes;
            if (expected == 0)
                daemon_.duration = minutes;
            if (expected == DHCPFTR_RET_TIMEOUT)
                settings_apart_ = true;
        }
        Dhcpftr_DB_Set_Trap_duration_to_K(minutes);
        return expected;
    }

    void check_sides(const std::string &context) {
        SCOPED_TRACE(context);
        sim::kernel::Tables tables = sim::kernel::tables();
        Rules stored = daemon_rules();
        ASSERT_EQ(describe(stored), describe(daemon_.rules)) << "the daemon's store";
        ASSERT_EQ(describe(tables.rules), describe(kernel_.rules)) << "the kernel filter's rules";
        for (const auto &[key, ports] : stored) {
            ASSERT_FALSE(PORTLIST_chk_empty(&ports)) << "no stored rule is empty";
            if (!apart_.count(key)) {
                auto k = tables.rules.find(key);
                ASSERT_TRUE(k != tables.rules.end() && same(k->second, ports)) << "daemon and kernel agree";
            }
        }
        ASSERT_LE(stored.size(), 255u);
        ASSERT_TRUE(same(dhcpftr_cfg_portlist_db, daemon_.enabled));
        ASSERT_TRUE(same(tables.enabled, kernel_.enabled));
        ASSERT_TRUE(enabled_apart_ || same(tables.enabled, dhcpftr_cfg_portlist_db));
        ASSERT_EQ(_dhcpftr_is_trap_enable(), daemon_.trap);
        ASSERT_EQ(_dhcpftr_get_trap_duration(), daemon_.duration);
        ASSERT_EQ(int(tables.trap), kernel_.trap);
        ASSERT_EQ(tables.duration, kernel_.duration);
        if (!settings_apart_) {
            ASSERT_EQ(int(tables.trap), daemon_.trap);
            ASSERT_EQ(tables.duration, daemon_.duration);
        }
    }

    std::mt19937 rng_;
    std::vector<Key> keys_;
    Side daemon_;
    Side kernel_;
    std::set<Key> apart_;
    bool enabled_apart_ = false;
    bool settings_apart_ = false;
};

TEST_P(ChannelMirror, DaemonAndKernelFilterStayInStep) {
    sim::kernel::set_rule_capacity(kKernelCapacity);
    std::map<int32_t, int> results;
    for (int step = 0; step < kSteps; ++step) {
        Fault fault = random_fault();
        int32_t refusal = chance(50) ? sim::kernel::kNoResource : -1 - static_cast<int32_t>(pick(40));
        inject(fault, refusal);
        std::string what;
        int32_t result;
        switch (pick(10)) {
        case 0:
        case 1:
        case 2:
        case 3:
            result = step_update(fault, refusal, what);
            break;
        case 4:
        case 5:
        case 6:
            result = step_delete(fault, refusal, what);
            break;
        case 7:
        case 8:
            result = step_ports(fault, refusal, what);
            break;
        default:
            result = step_setting(fault, refusal, what);
            break;
        }
        ++results[result];
        sim::kernel::wait_idle();  // a late answer has arrived (and was dropped) before the sides are compared
        sim::kernel::clear_faults();
        sim::kernel::set_answer_delay(std::chrono::milliseconds(0));
        sim::memory::fail_next_allocations(0);
        std::ostringstream context;
        context << "seed " << GetParam() << ", step " << step << ": " << what << ", fault " << int(fault)
                << ", result " << result;
        check_sides(context.str());
        if (HasFatalFailure() || HasNonfatalFailure())
            return;
    }
    // Every kind of outcome was reached.
    for (int32_t r : {0, DHCPFTR_RET_DB_FAIL, DHCPFTR_RET_SEND_FAIL, DHCPFTR_RET_TIMEOUT, DHCPFTR_RET_NO_RESOURCE})
        EXPECT_GT(results[r], 0) << "result " << r << " never happened with seed " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChannelMirror, ::testing::Values(1u, 2u, 3u, 2026u));

}  // namespace
