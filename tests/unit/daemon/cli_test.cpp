// The daemon's command handlers called as the shell calls them: the reason codes of server addresses, the
// results of the commits as the operator sees them, the port-list text, the debug view and what the reset does
// beyond the settings. The refusals' messages, the MAC forms, the show and the running configuration are
// checked end to end by the screening_*.t transcripts; the boot-time deferral of trunks by topology_test.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dhcpftr_cli.h"
#include "dhcpftr_portlist.h"
#include "dhcpftr_portrange.h"
#include "kernel/sim_kernel.h"
#include "support/daemon_harness.h"

using harness::lports;
using ::testing::ElementsAre;

namespace {

constexpr uint32_t kTrunk20Lport = 641 + 19;

class DaemonCommands : public ::testing::Test {
protected:
    void SetUp() override { harness::boot_quietly(); }
    std::string run(CLI_HANDLER_FN handler, std::vector<std::string> args) { return term.call(handler, args); }
    harness::Terminal term;
};

TEST(DaemonHostAddress, ReasonCodes) {
    const struct {
        const char *address;
        int reason;
    } cases[] = {
        {"10.1.2.3", 0},         {"0.1.2.3", 1},         {"127.0.0.1", 2},        {"10.0.0.0", 3},
        {"10.255.255.255", 4},   {"191.255.1.1", 5},     {"172.16.0.0", 6},       {"172.16.255.255", 7},
        {"223.255.255.1", 8},    {"192.168.1.0", 9},     {"192.168.1.255", 10},   {"224.0.0.1", 11},
        {"255.255.255.255", 11}, {"223.255.254.1", 0},   {"128.0.0.1", 0},        {"191.254.1.1", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(check_ip4_host_addr(ntohl(inet_addr(c.address))), c.reason);
    }
}

// What the operator sees of each commit result: -100 has its message and fails; other refusals are silent
// successes that change nothing (-50 is in snmp_test, the same refusals end to end in screening_kernel.t).
TEST_F(DaemonCommands, CommitResultsAsTheOperatorSeesThem) {
    const CLI_HANDLER_FN enable = dhcpftr_enable_port, disable = dhcpftr_disable_port, add = dhcpftr_add_permit_rule,
                         remove = dhcpftr_remove_permit_rule;
    const char *const unavailable = "1|% Resource unavailable\n";
    const struct {
        int32_t refusal;  // of the next message, 0 for none
        CLI_HANDLER_FN handler;
        std::vector<std::string> args;
        const char *out;
    } cases[] = {
        {-100, enable, {"eth1.1"}, unavailable},
        {-7, enable, {"eth1.1"}, "0|"},
        {0, enable, {"eth1.1-1.3"}, "0|"},
        {-100, disable, {"eth1.2"}, unavailable},
        {-7, disable, {"eth1.2"}, "0|"},
        {-100, add, {"10.1.1.1", "eth1.1"}, unavailable},
        {-7, add, {"10.1.1.2", "eth1.1"}, "0|"},
        {0, add, {"10.1.1.1", "eth1.1"}, "0|"},
        {-100, remove, {"10.1.1.1", "eth1.1"}, unavailable},
        {-7, remove, {"10.1.1.1", "eth1.1"}, "0|"},
        {0, remove, {"10.9.9.9", "eth1.1"}, "0|"},  // no such rule: no error
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.front() + " " + std::to_string(c.refusal));
        if (c.refusal != 0)
            sim::kernel::refuse_next(1, c.refusal);
        EXPECT_EQ(run(c.handler, c.args), c.out);
    }
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1, 2, 3));
    EXPECT_THAT(harness::stored_keys(), ElementsAre("10.1.1.1 00:00:00:00:00:00"));
}

TEST(DaemonPortListText, RunsGapsNamesAndTrunks) {
    std::vector<uint32_t> all(PORTLIST_MAX_PORT);
    for (uint32_t p = 1; p <= PORTLIST_MAX_PORT; ++p)
        all[p - 1] = p;
    std::string every;
    for (int s = 1; s <= 10; ++s)
        every += "eth" + std::to_string(s) + ".1-" + std::to_string(s) + ".48,";
    every += "port-channel1-128\n";
    const struct {
        std::vector<uint32_t> ports;
        std::string text;
    } cases[] = {
        {{}, "\n"},
        {{1}, "eth1.1\n"},
        {{1, 2}, "eth1.1-1.2\n"},
        {{1, 3}, "eth1.1,eth1.3\n"},
        {{1, 2, 3, 5}, "eth1.1-1.3,eth1.5\n"},
        {{47, 48, 49, 50, 65, 66}, "eth1.47-1.48,eth2.1-2.2\n"},  // 49 and 50 have no name
        {{48, 49, 65}, "eth1.48,eth2.1\n"},
        {{624, 641}, "eth10.48,port-channel1\n"},
        {{641, 642, 643, 644, 646}, "port-channel1-4,port-channel6\n"},
        {{768}, "port-channel128\n"},
        {all, every},
    };
    harness::Terminal term;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        PORTLIST_T list;
        PORTLIST_clear_all(&list);
        for (uint32_t p : c.ports)
            PORTLIST_set_port(&list, p);
        dhcpftr_print_ports_cli(&list, term.context());
        EXPECT_EQ(term.take(), c.text);
    }
}

// The debug view: present ports, then enabled ports, five names of 10 columns a line; a port whose
// interface does not exist is left out; no newline at the end.
TEST_F(DaemonCommands, DebugPortView) {
    PORTLIST_clear_all(&dhcpftr_portlist_db);
    for (uint32_t p : {1, 2, 3, 4, 5, 6, 641, 700})
        PORTLIST_set_port(&dhcpftr_portlist_db, p);
    PORTLIST_set_port(&dhcpftr_cfg_portlist_db, 2);
    EXPECT_EQ(run(dhcpftr_dbg_show_portlist, {}),
              "0|Physical ports: \n"
              "eth1.1    eth1.2    eth1.3    eth1.4    eth1.5    \n"
              "eth1.6    port-channel1\n"
              "Configured ports:\n"
              "eth1.2    ");
}

// The reset also empties the pending-enable list, and leaves the present ports (the settings, the rules and a
// refused deletion: screening_reset.t).
TEST_F(DaemonCommands, ResetEmptiesThePendingEnableListAndKeepsThePresentPorts) {
    const PORTLIST_T present = dhcpftr_portlist_db;
    run(dhcpftr_enable_port, {"eth1.1"});
    PORTLIST_set_port(&should_update_port, kTrunk20Lport);
    EXPECT_EQ(dhcpftr_cli_config_reset(), 0);
    EXPECT_TRUE(PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db));
    EXPECT_TRUE(PORTLIST_chk_empty(&should_update_port));
    EXPECT_EQ(lports(dhcpftr_portlist_db), lports(present));
}

}  // namespace
