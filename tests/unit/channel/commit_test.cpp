// The commits through the simulated kernel filter: what each sends, what it changes on a zero answer, and
// what each failure leaves, with the log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "avl/sim_avl.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_init.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_ukcomm.h"
#include "kernel/sim_kernel.h"
#include "memory/sim_memory.h"
#include "support/daemon_harness.h"

using harness::lports;
using harness::rule;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const harness::Mac kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// The daemon's log without the lines whose place depends on the kernel thread's timing (the first time-out
// line of a wait and the answer handler's line).
std::vector<std::string> commit_log() {
    std::vector<std::string> out;
    for (const std::string &line : harness::daemon_log()) {
        if (line.find("time out 0 times") != std::string::npos ||
            line.find("rx response from kernel") != std::string::npos)
            continue;
        out.push_back(line);
    }
    return out;
}

using harness::kernel_messages;

size_t sent() { return kernel_messages().size(); }

// The rules of the store (found by a walk, which logs nothing) and of the kernel filter, as lines.
std::vector<std::string> stored() { return harness::rule_lines(harness::stored_rules()); }
std::vector<std::string> in_kernel() { return harness::rule_lines(sim::kernel::tables().rules); }

class ChannelCommits : public ::testing::Test {
protected:
    void SetUp() override {
        Dhcpftr_Init(0, 0);
        harness::capture_log();
    }

    static int32_t update(const DHCPFTR_PERMIT_RULE_ENTRY_T &e) {
        DHCPFTR_PERMIT_RULE_ENTRY_T copy = e;
        int32_t result = 1;
        Dhcpftr_DB_Update_Rule(&copy, &result);
        return result;
    }

    static int32_t remove(const DHCPFTR_PERMIT_RULE_ENTRY_T &e, bool stacking = false) {
        DHCPFTR_PERMIT_RULE_ENTRY_T copy = e;
        int32_t result = 1;
        (stacking ? Dhcpftr_DB_Stk_Delete_Rule_to_K : Dhcpftr_DB_Delete_Rule_to_K)(&copy, &result);
        return result;
    }
};

TEST_F(ChannelCommits, ANewRuleIsStoredOnlyAfterTheKernelAccepted) {
    EXPECT_EQ(update(rule("10.1.2.3", kMac, {1, 2, 3, 5})), 0);
    EXPECT_THAT(stored(), ElementsAre("10.1.2.3/85: 1 2 3 5"));
    EXPECT_THAT(kernel_messages(), ElementsAre("rule 0 3/85 1 2 3 5"));
    EXPECT_THAT(commit_log(),
                ElementsAre("104 0 Dhcpftr_DB_Update_Rule [#]: Insert rule,key (A010203,00:11:22:33:44:55)\n",
                            "101 0 Dhcpftr_DB_Update_Rule [#]: wait for event 0\n",
                            "101 0 _dhcpftr_get_ret_value [#]: rx response 0\n",
                            "101 0 Dhcpftr_DB_Insert_Rule [#]: Insert rule => server_ip A010203, MAC= "
                            "00:11:22:33:44:55\n"));
}

TEST_F(ChannelCommits, AddingToAStoredRuleSendsOnlyTheAddedPorts) {
    ASSERT_EQ(update(rule("10.1.2.3", {}, {1, 2})), 0);
    harness::capture_log();
    EXPECT_EQ(update(rule("10.1.2.3", {}, {3, 4})), 0);
    EXPECT_EQ(kernel_messages().back(), "rule 0 3/0 3 4");
    EXPECT_THAT(stored(), ElementsAre("10.1.2.3/0: 1 2 3 4"));
    EXPECT_THAT(commit_log(),
                ElementsAre("107 0 Dhcpftr_DB_Get_Rule [#]: Get rule for IP A010203,client mac 00:00:00:00:00:00 OK\n",
                            "104 0 Dhcpftr_DB_Update_Rule [#]: Rule (A010203,00:00:00:00:00:00) existed with port...\n",
                            "101 0 Dhcpftr_DB_Update_Rule [#]:Portlist to be added: ", "101 1 eth1.3", "101 1 -1.4",
                            "101 1 \n", "101 0 Dhcpftr_DB_Update_Rule [#]: wait for event 0\n",
                            "101 0 _dhcpftr_get_ret_value [#]: rx response 0\n"));

    EXPECT_EQ(update(rule("10.1.2.3", {}, {2})), 0);
    EXPECT_EQ(kernel_messages().back(), "rule 0 3/0 2") << "ports the rule holds are still sent";
    EXPECT_THAT(stored(), ElementsAre("10.1.2.3/0: 1 2 3 4"));
}

TEST_F(ChannelCommits, TheStoreHoldsAtMost255Rules) {
    for (uint32_t i = 1; i <= DHCPFTR_MAX_RULES; ++i) {
        std::string server = "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        ASSERT_EQ(update(rule(server.c_str(), {}, {i})), 0) << server;
    }
    harness::capture_log();
    size_t before = sent();
    EXPECT_EQ(update(rule("192.168.1.1", {}, {7})), DHCPFTR_RET_DB_FULL);
    EXPECT_EQ(sent(), before) << "nothing is sent for a new key";
    EXPECT_EQ(commit_log().back(), "104 0 Dhcpftr_DB_Update_Rule [#]: Rule DB reaches maximum capacity\n");
    EXPECT_EQ(update(rule("10.0.0.2", {}, {700})), 0) << "a stored rule still takes ports";
    EXPECT_EQ(stored().front(), "10.0.0.2/0: 1 700");
    EXPECT_EQ(Dhcpftr_DB_entry_number(), 255);
}

// Every commit, refused by the kernel filter or failing to send: the result, the failure line and a daemon
// state left exactly as it was.
TEST_F(ChannelCommits, EveryRefusalAndSendFailureLeavesTheState) {
    struct Case {
        const char *commit;
        uint32_t op;
        const char *message;       // the message sent
        const char *refused_line;  // the commit's failure line after a refusal of -100
    } cases[] = {
        {"new rule", DHCPFTR_OP_ADD_RULE, "rule 0 8/0 2",
         "Dhcpftr_DB_Update_Rule [#]: set rule to kernel failed,ret -100\n"},
        {"stored rule", DHCPFTR_OP_ADD_RULE, "rule 0 9/0 2", "Dhcpftr_DB_Update_Rule [#]: set rule to kernel failed\n"},
        {"delete", DHCPFTR_OP_DEL_RULE, "rule 1 9/0 1", "Dhcpftr_DB_Delete_Rule_to_K [#]: set rule to kernel failed\n"},
        {"stacking delete", DHCPFTR_OP_STK_DEL_RULE, "rule 7 9/0 1",
         "Dhcpftr_DB_Stk_Delete_Rule_to_K [#]: set rule to kernel failed\n"},
        {"enable", DHCPFTR_OP_ADD_PORTS, "ports 4 1 5",
         "Dhcpftr_DB_Update_Ports_to_K [#]: set ports to kernel failed, ret -100\n"},
        {"disable", DHCPFTR_OP_DEL_PORTS, "ports 5 1 5",
         "Dhcpftr_DB_Delete_Ports_to_K [#]: del ports to kernel failed\n"},
        {"stacking disable", DHCPFTR_OP_STK_DEL_PORTS, "ports 6 1 5",
         "Dhcpftr_Stk_DB_Delete_Ports_to_K [#]: del ports to kernel failed\n"},
        {"trap", DHCPFTR_OP_SET_TRAP, "value 2 1", "Dhcpftr_DB_Set_Trap_to_K [#]: Disable trap/log to kernel failed\n"},
        {"duration", DHCPFTR_OP_SET_DURATION, "value 3 20",
         "Dhcpftr_DB_Set_Trap_duration_to_K [#]: Set trap/log duration to kernel failed\n"},
    };
    ASSERT_EQ(update(rule("10.9.9.9", {}, {1})), 0);
    auto state = [] {
        return ::testing::PrintToString(stored()) + std::to_string(_dhcpftr_is_trap_enable()) + " " +
               std::to_string(_dhcpftr_get_trap_duration());
    };
    const auto before = state();
    for (const Case &c : cases) {
        for (bool send_fails : {false, true}) {
            SCOPED_TRACE(std::string(c.commit) + (send_fails ? ", send fails" : ", refused"));
            if (send_fails)
                sim::kernel::fail_next_sends(1);
            else
                sim::kernel::refuse_next(1, DHCPFTR_RET_NO_RESOURCE, c.op);
            harness::capture_log();
            size_t messages = sent();
            PORTLIST_T ports = harness::ports({1, 5});
            int32_t result = 1;
            switch (c.op) {
            case DHCPFTR_OP_ADD_RULE: result = update(rule(c.commit[0] == 'n' ? "10.8.8.8" : "10.9.9.9", {}, {2})); break;
            case DHCPFTR_OP_DEL_RULE: result = remove(rule("10.9.9.9", {}, {1})); break;
            case DHCPFTR_OP_STK_DEL_RULE: result = remove(rule("10.9.9.9", {}, {1}), true); break;
            case DHCPFTR_OP_ADD_PORTS: Dhcpftr_DB_Update_Ports_to_K(&ports, &result); break;
            case DHCPFTR_OP_DEL_PORTS: Dhcpftr_DB_Delete_Ports_to_K(&ports, &result); break;
            case DHCPFTR_OP_STK_DEL_PORTS: Dhcpftr_Stk_DB_Delete_Ports_to_K(&ports, &result); break;
            case DHCPFTR_OP_SET_TRAP: Dhcpftr_DB_Set_Trap_to_K(1); break;
            case DHCPFTR_OP_SET_DURATION: Dhcpftr_DB_Set_Trap_duration_to_K(20); break;
            }
            if (c.op != DHCPFTR_OP_SET_TRAP && c.op != DHCPFTR_OP_SET_DURATION) {
                EXPECT_EQ(result, send_fails ? DHCPFTR_RET_SEND_FAIL : DHCPFTR_RET_NO_RESOURCE);
            }
            EXPECT_EQ(sent(), messages + (send_fails ? 0 : 1));
            if (!send_fails) {
                EXPECT_EQ(kernel_messages().back(), c.message);
            }
            std::vector<std::string> log = commit_log();
            ASSERT_FALSE(log.empty());
            std::string function = std::string(c.refused_line).substr(0, std::string(c.refused_line).find(' '));
            EXPECT_EQ(log.back(), "104 0 " + (send_fails ? function + " [#]: UKCOMM send to kernel failed\n"
                                                         : std::string(c.refused_line)));
            EXPECT_EQ(state(), before);
            sim::kernel::clear_faults();
        }
    }
}

TEST_F(ChannelCommits, AStoreFailureAfterTheKernelAcceptedIsMinus20) {
    sim::memory::fail_next_allocations(1);
    EXPECT_EQ(update(rule("10.1.2.3", kMac, {1})), DHCPFTR_RET_DB_FAIL);
    EXPECT_EQ(Dhcpftr_DB_is_empty(), 1);
    EXPECT_THAT(in_kernel(), ElementsAre("10.1.2.3/85: 1")) << "the kernel filter keeps it";
    EXPECT_EQ(commit_log().back(), "104 0 Dhcpftr_DB_Update_Rule [#]: Insert rule failed=> server_ip A010203, MAC= "
                                   "00:11:22:33:44:55\n");

    ASSERT_EQ(update(rule("10.1.2.4", {}, {2})), 0);
    sim::avl::fail_next_removals(1);
    harness::capture_log();
    EXPECT_EQ(remove(rule("10.1.2.4", {}, {2})), DHCPFTR_RET_DB_FAIL);
    EXPECT_THAT(stored(), ElementsAre("10.1.2.4/0:")) << "kept, with an empty port list";
    EXPECT_EQ(commit_log().back(), "104 0 Dhcpftr_DB_Delete_Rule_to_K [#]: Delete rule failed=> server_ip A010204, "
                                   "MAC= 00:00:00:00:00:00\n");
}

TEST_F(ChannelCommits, DeleteSendsTheWholeRequestAndDropsTheRuleWithItsLastPort) {
    ASSERT_EQ(update(rule("10.1.1.1", {}, {2, 3})), 0);
    ASSERT_EQ(update(rule("10.1.1.2", {}, {2, 3})), 0);
    harness::capture_log();
    EXPECT_EQ(remove(rule("10.1.1.1", {}, {2})), 0);
    EXPECT_THAT(stored(), ElementsAre("10.1.1.1/0: 3", "10.1.1.2/0: 2 3"));
    EXPECT_THAT(commit_log(),
                ElementsAre("101 0 Dhcpftr_DB_Delete_Rule_to_K [#]: Delete ports rule (server_ip A010101, "
                            "MAC=00:00:00:00:00:00)\n",
                            "101 0 Dhcpftr_DB_Delete_Rule_to_K [#]:Ports to be deleted: ", "101 1 eth1.2", "101 1 \n",
                            "107 0 Dhcpftr_DB_Get_Rule [#]: Get rule for IP A010101,client mac 00:00:00:00:00:00 OK\n",
                            "101 0 Dhcpftr_DB_Delete_Rule_to_K [#]: wait for event 1\n",
                            "101 0 _dhcpftr_get_ret_value [#]: rx response 0\n"));

    EXPECT_EQ(remove(rule("10.1.1.2", {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), true), 0);
    EXPECT_EQ(kernel_messages().back(), "rule 7 2/0 1 2 3 4 5 6 7 8 9 10");
    EXPECT_THAT(stored(), ElementsAre("10.1.1.1/0: 3"));
    EXPECT_THAT(in_kernel(), ElementsAre("10.1.1.1/0: 3"));
}

TEST_F(ChannelCommits, DeleteOfAMissingKeyOrOfPortsTheRuleLacksSendsNothing) {
    ASSERT_EQ(update(rule("10.1.1.1", {}, {2, 3})), 0);
    size_t before = sent();
    harness::capture_log();
    EXPECT_EQ(remove(rule("10.1.1.9", {}, {2})), 0);
    EXPECT_EQ(commit_log().back(), "101 0 Dhcpftr_DB_Delete_Rule_to_K [#]: rule not found=> server_ip A010109, MAC= "
                                   "00:00:00:00:00:00\n");
    EXPECT_EQ(remove(rule("10.1.1.1", {}, {4})), 0);
    EXPECT_EQ(commit_log().back(), "101 0 Dhcpftr_DB_Delete_Rule_to_K [#]: no ports in common\n");
    EXPECT_EQ(sent(), before);
}

TEST_F(ChannelCommits, PortCommitsOnlyTellTheKernel) {
    PORTLIST_T ports = harness::ports({1, 2, 3, 641});
    int32_t result = 1;
    Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db), 1) << "the caller keeps the enabled-port list";
    EXPECT_THAT(lports(sim::kernel::tables().enabled), ElementsAre(1u, 2u, 3u, 641u));
    EXPECT_THAT(commit_log(),
                ElementsAre("101 0 Dhcpftr_DB_Update_Ports_to_K [#]: Add enabled portlist to kernel\n",
                            "101 0 Dhcpftr_DB_Update_Ports_to_K [#]:Portlist to be enabled: ", "101 1 eth1.1",
                            "101 1 -1.3,", "101 1 port-channel1", "101 1 \n",
                            "101 0 Dhcpftr_DB_Update_Ports_to_K [#]: wait for event 4\n",
                            "101 0 _dhcpftr_get_ret_value [#]: rx response 0\n"));
    PORTLIST_T two = harness::ports({2});
    Dhcpftr_Stk_DB_Delete_Ports_to_K(&two, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(kernel_messages().back(), "ports 6 2");
    EXPECT_THAT(lports(sim::kernel::tables().enabled), ElementsAre(1u, 3u, 641u));
}

TEST_F(ChannelCommits, TrapStateFollowsAnAcceptedChange) {
    struct Case {
        uint32_t state;
        uint8_t byte_sent;
        int enabled_after;
        const char *ok_line;
    } cases[] = {
        {1, 1, 1, "104 0 Dhcpftr_DB_Set_Trap_to_K [#]: Enable trap/log to kernel OK\n"},
        {0, 0, 0, "104 0 Dhcpftr_DB_Set_Trap_to_K [#]: Disable trap/log to kernel OK\n"},
        {1, 1, 1, "104 0 Dhcpftr_DB_Set_Trap_to_K [#]: Enable trap/log to kernel OK\n"},
        {5, 5, 0, "104 0 Dhcpftr_DB_Set_Trap_to_K [#]: Disable trap/log to kernel OK\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.state);
        harness::capture_log();
        Dhcpftr_DB_Set_Trap_to_K(c.state);
        EXPECT_EQ(kernel_messages().back(), "value 2 " + std::to_string(c.byte_sent));
        EXPECT_EQ(_dhcpftr_is_trap_enable(), c.enabled_after);
        EXPECT_EQ(commit_log().front(),
                  "101 0 Dhcpftr_DB_Set_Trap_to_K [#]: Set trap/syslog state " + std::to_string(c.state) + "\n");
        EXPECT_EQ(commit_log().back(), c.ok_line);
    }
}

TEST_F(ChannelCommits, AnUnchangedDurationSendsNothing) {
    Dhcpftr_DB_Set_Trap_duration_to_K(10);
    EXPECT_EQ(sent(), 0u);
    EXPECT_THAT(harness::daemon_log(), IsEmpty());
    Dhcpftr_DB_Set_Trap_duration_to_K(11);
    EXPECT_EQ(_dhcpftr_get_trap_duration(), 11u);
    EXPECT_THAT(kernel_messages(), ElementsAre("value 3 11"));
    EXPECT_THAT(commit_log(),
                ElementsAre("101 0 Dhcpftr_DB_Set_Trap_duration_to_K [#]: Set trap/syslog duration 11\n",
                            "101 0 Dhcpftr_DB_Set_Trap_duration_to_K [#]: wait for event 3\n",
                            "101 0 _dhcpftr_get_ret_value [#]: rx response 0\n",
                            "104 0 Dhcpftr_DB_Set_Trap_duration_to_K [#]: Set trap/log duration to kernel OK\n"));
}

// An answer later than two whole waits: until it has come, a commit of its code fails at once and sends
// nothing; once it has come, the next commit takes its own answer. Store and kernel filter agree throughout.
TEST_F(ChannelCommits, ALateAnswerIsNeverTakenForALaterCommits) {
    using namespace std::chrono_literals;
    dhcpftr_wait_max_polls = 1;  // a wait of one poll, 100 ms
    sim::kernel::refuse_next(1, sim::kernel::kNoResource, DHCPFTR_OP_ADD_RULE);
    sim::kernel::set_answer_delay(250ms);
    EXPECT_EQ(update(rule("10.1.2.1", {}, {1})), DHCPFTR_RET_TIMEOUT) << "refused, but answered too late";
    EXPECT_EQ(stored(), in_kernel());
    harness::capture_log();
    EXPECT_EQ(update(rule("10.1.2.2", {}, {2})), DHCPFTR_RET_TIMEOUT) << "its answer could not be told apart";
    EXPECT_EQ(sent(), 1u);
    EXPECT_EQ(stored(), in_kernel());
    EXPECT_THAT(commit_log(),
                ElementsAre("104 0 Dhcpftr_DB_Update_Rule [#]: Insert rule,key (A010202,00:00:00:00:00:00)\n",
                            "104 0 _dhcpftr_late_answer_due [#]: late response from kernel for 0 still due, "
                            "request not sent\n",
                            "104 0 Dhcpftr_DB_Update_Rule [#]: set rule to kernel failed,ret -60\n"));
    sim::kernel::wait_idle();  // the late refusal has come
    sim::kernel::set_answer_delay(0ms);
    EXPECT_EQ(update(rule("10.1.2.3", {}, {3})), 0) << "its own answer, not the late refusal";
    EXPECT_THAT(stored(), ElementsAre("10.1.2.3/0: 3"));
    EXPECT_EQ(stored(), in_kernel());
}

}  // namespace
