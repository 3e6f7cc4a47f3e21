// The daemon's command handlers called as the shell calls them: the checks of server addresses, MAC texts
// and interface names with their exact messages, the results of the commits as the operator sees them, the
// boot-time deferral of trunks that do not exist yet, and the port-list text.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "chassis/sim_chassis.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_portlist.h"
#include "dhcpftr_portrange.h"
#include "kernel/sim_kernel.h"
#include "services/sim_services.h"
#include "support/daemon_harness.h"

using harness::lports;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr uint32_t kTrunk20Lport = 641 + 19;

class DaemonCommands : public ::testing::Test {
protected:
    void SetUp() override {
        harness::boot_daemon();
        harness::capture_log();
        sim::kernel::clear_messages();
    }

    // Runs a handler and returns "result|output".
    std::string run(CLI_HANDLER_FN handler, std::vector<std::string> args) {
        int result = term.run(handler, std::move(args));
        sim::kernel::wait_idle();
        return std::to_string(result) + "|" + term.take();
    }

    static size_t sent() { return sim::kernel::messages().size(); }

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

// Every refusal prints its message, returns 1, sends nothing and changes nothing.
TEST_F(DaemonCommands, RefusalsPrintTheirMessageAndChangeNothing) {
    sim::Chassis::instance().find("eth1.2")->state = IF_STATE_TRUNK_MEMBER;
    ASSERT_EQ(term.run(interface_dhcp_filter, {"port-channel20"}), 0);  // a global record without interface
    const struct {
        CLI_HANDLER_FN handler;
        std::vector<std::string> args;
        const char *output;
    } cases[] = {
        {dhcpftr_add_permit_rule, {"10.1.1.255", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"169.254.1.1", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"0.1.2.3", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"127.0.0.1", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"224.0.0.1", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"10.0.0.0", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"172.16.0.0", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"172.16.1.255", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"223.255.255.1", "eth1.1"}, "% Invalid IPv4 address\n"},
        {dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "00:11:22:33:44", "eth1.1"},
         "% Unable to translate mac address 00:11:22:33:44\n"},
        {dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "0g:11:22:33:44:55", "eth1.1"},
         "% Unable to translate mac address 0g:11:22:33:44:55\n"},
        {dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "0011.2233", "eth1.1"},
         "% Unable to translate mac address 0011.2233\n"},
        {dhcpftr_remove_permit_rule, {"10.1.1.1", "client-mac", "00112233445", "eth1.1"},
         "% Unable to translate mac address 00112233445\n"},
        {dhcpftr_add_permit_rule, {"10.1.1.1", "eth11.1"}, "% No such interface eth11.1\n"},
        {dhcpftr_enable_port, {"eth1.1,foo"}, "% No such interface foo\n"},
        {dhcpftr_enable_port, {"vlan1"}, "% vlan1 is not support\n"},
        {dhcpftr_enable_port, {"eth1.1-1.3"}, "% eth1.2 conflict with trunk\n"},
        {dhcpftr_disable_port, {"port-channel21"}, "% No such interface port-channel21\n"},
        {dhcpftr_enable_port, {"port-channel20"},
         "% Interface port-channel20 can not configure DHCP server screening\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back() + " " + c.args.front());
        EXPECT_EQ(run(c.handler, c.args), std::string("1|") + c.output);
    }
    EXPECT_EQ(sent(), 0u);
    EXPECT_TRUE(Dhcpftr_DB_is_empty());
    EXPECT_TRUE(PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db));
    EXPECT_TRUE(PORTLIST_chk_empty(&should_update_port));
}

// The four MAC forms of one address make one rule; a dotted group of one digit stands for two bytes.
TEST_F(DaemonCommands, MacFormsMakeTheSameKey) {
    for (const char *mac : {"00:11:22:33:44:55", "00-11-22-33-44-55", "0011.2233.4455", "001122334455"}) {
        SCOPED_TRACE(mac);
        EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", mac, "eth1.1"}), "0|");
    }
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "1.2.3", "eth1.2"}), "0|");
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth1.3"}), "0|");
    EXPECT_THAT(harness::stored_keys(), ElementsAre("10.1.1.1 00:00:00:00:00:00", "10.1.1.1 00:01:00:02:00:03",
                                                    "10.1.1.1 00:11:22:33:44:55"));
}

// What the operator sees of each commit result: -50 and -100 have messages and fail; other failures are
// silent successes that change nothing.
TEST_F(DaemonCommands, CommitResultsAsTheOperatorSeesThem) {
    sim::kernel::refuse_next(1, -100);
    EXPECT_EQ(run(dhcpftr_enable_port, {"eth1.1"}), "1|% Resource unavailable\n");
    sim::kernel::refuse_next(1, -7);
    EXPECT_EQ(run(dhcpftr_enable_port, {"eth1.1"}), "0|");
    EXPECT_TRUE(PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db));
    EXPECT_EQ(run(dhcpftr_enable_port, {"eth1.1-1.3"}), "0|");
    sim::kernel::refuse_next(1, -100);
    EXPECT_EQ(run(dhcpftr_disable_port, {"eth1.2"}), "1|% Resource unavailable\n");
    EXPECT_EQ(run(dhcpftr_disable_port, {"eth1.2"}), "0|");
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1, 3));

    sim::kernel::refuse_next(1, -100);
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth1.1"}), "1|% Resource unavailable\n");
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth1.1"}), "0|");
    sim::kernel::refuse_next(1, -100);
    EXPECT_EQ(run(dhcpftr_remove_permit_rule, {"10.1.1.1", "eth1.1"}), "1|% Resource unavailable\n");
    EXPECT_EQ(run(dhcpftr_remove_permit_rule, {"10.9.9.9", "eth1.1"}), "0|");  // no such rule: no error
    EXPECT_EQ(run(dhcpftr_remove_permit_rule, {"10.1.1.1", "eth1.1"}), "0|");
    EXPECT_TRUE(Dhcpftr_DB_is_empty());
}

TEST_F(DaemonCommands, TheRuleLimitRefusesOnlyNewKeys) {
    for (uint32_t i = 0; i < DHCPFTR_MAX_RULES; ++i) {
        DHCPFTR_PERMIT_RULE_ENTRY_T e = harness::rule("10.1.0.1", {}, {1});
        e.server_ip = htonl(ntohl(e.server_ip) + i);
        ASSERT_EQ(Dhcpftr_DB_Insert_Rule(&e), 1);
    }
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.2.0.1", "eth1.1"}),
              "1|% Number of permit rule should not exceed 255\n");
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.0.1", "eth1.2"}), "0|");
    EXPECT_EQ(Dhcpftr_DB_entry_number(), 255);
}

// Trap/log and suppress duration: an unchanged trap state sends nothing; the "no" form sets 10 minutes.
TEST_F(DaemonCommands, TrapLogAndSuppressDuration) {
    EXPECT_EQ(run(dhcpftr_enable_trap_log, {}), "0|");
    EXPECT_EQ(run(dhcpftr_enable_trap_log, {}), "0|");
    EXPECT_EQ(sent(), 1u);
    EXPECT_EQ(run(dhcpftr_set_trap_duration, {"5"}), "0|");
    EXPECT_EQ(_dhcpftr_get_trap_duration(), 5u);
    EXPECT_EQ(run(dhcpftr_set_trap_duration_default, {}), "0|");
    EXPECT_EQ(_dhcpftr_get_trap_duration(), 10u);
    EXPECT_EQ(run(dhcpftr_disable_trap_log, {}), "0|");
    EXPECT_EQ(run(dhcpftr_disable_trap_log, {}), "0|");
    EXPECT_EQ(sent(), 4u);
    EXPECT_EQ(_dhcpftr_is_trap_enable(), 0);
}

// While booting, a trunk that does not exist yet is deferred: the enable command into the pending-enable
// list, the rule command onto the trunk's pending-rule list; disabling takes it out again and removing a rule
// leaves the list as it was.
TEST_F(DaemonCommands, BootDefersMissingTrunks) {
    sim::procm::set_ready(0);
    EXPECT_EQ(run(dhcpftr_enable_port, {"port-channel20,eth1.1"}), "0|");
    EXPECT_THAT(lports(should_update_port), ElementsAre(kTrunk20Lport));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1));

    harness::capture_log();
    EXPECT_EQ(run(dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "00:11:22:33:44:55", "port-channel20"}), "1|");
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("101 0 _dhcpftr_if_range_validate_if [#]: ifp for port-channel20 is not found during "
                            "bootup, might not be created yet\n",
                            "101 0 _dhcpftr_port_range_to_portlist [#]: if port-channel20 is not found during "
                            "bootup,trunk id 19\n",
                            "101 0 dhcpftr_add_permit_rule [#]: Insert rule portlist is empty\n"));
    DHCPFTR_PENDING_RULE_T *pending = _dhcpftr_get_list_first(19);
    ASSERT_NE(pending, nullptr);
    EXPECT_EQ(pending->server_ip, inet_addr("10.1.1.1"));
    EXPECT_EQ(pending->client_mac[5], 0x55);
    EXPECT_TRUE(Dhcpftr_DB_is_empty());

    EXPECT_EQ(run(dhcpftr_remove_permit_rule, {"10.1.1.1", "port-channel21"}), "0|");
    EXPECT_THAT(lports(should_update_port), ElementsAre(kTrunk20Lport));
    EXPECT_EQ(run(dhcpftr_disable_port, {"port-channel20,port-channel21"}), "0|");
    EXPECT_THAT(lports(should_update_port), IsEmpty());
    EXPECT_EQ(run(dhcpftr_enable_port, {"eth11.1"}), "1|% No such interface eth11.1\n");
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

TEST_F(DaemonCommands, ShowWithRules) {
    EXPECT_EQ(run(dhcpftr_show, {}),
              "0|   Enable ports: \n"
              "   Filter DHCP Server Trap_Log State: Disable\n"
              "   Illegal Server Log Suppress Duration: 10 minutes\n"
              "   Filter DHCP Server/Client List: \n");
    run(dhcpftr_enable_port, {"eth1.1-1.4"});
    run(dhcpftr_enable_trap_log, {});
    run(dhcpftr_add_permit_rule, {"192.168.10.254", "client-mac", "0a:1b:2c:3d:4e:5f", "eth1.1,port-channel2"});
    run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth1.1-1.3"});
    EXPECT_EQ(run(dhcpftr_show, {}),
              "0|   Enable ports: eth1.1-1.4\n"
              "   Filter DHCP Server Trap_Log State: Enable\n"
              "   Illegal Server Log Suppress Duration: 10 minutes\n"
              "   Filter DHCP Server/Client List: \n"
              "      Server IP Address Client MAC Address Port\n"
              "      10.1.1.1          All Client MAC     eth1.1-1.3\n"
              "      192.168.10.254    0A:1B:2C:3D:4E:5F  eth1.1,port-channel2\n"
              "\n"
              "   Total Entries: 2\n");
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

TEST_F(DaemonCommands, RunningConfigurationBlocks) {
    harness::Terminal writer;
    dhcpftr_cli_config_write(writer.context());
    EXPECT_EQ(writer.take(), "");
    run(dhcpftr_enable_port, {"eth1.1-1.4,port-channel1"});
    run(dhcpftr_enable_trap_log, {});
    run(dhcpftr_set_trap_duration, {"5"});
    run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth2.1"});
    run(dhcpftr_add_permit_rule, {"10.1.1.1", "client-mac", "00-aa-bb-cc-dd-ee", "eth2.2-2.3"});
    dhcpftr_cli_config_write(writer.context());
    EXPECT_EQ(writer.take(),
              "ip dhcp screening ports eth1.1-1.4,port-channel1\n!\n"
              "ip dhcp screening trap-log\n!\n"
              "ip dhcp screening suppress-duration 5\n!\n"
              "ip dhcp screening server-ip 10.1.1.1 ports eth2.1\n!\n"
              "ip dhcp screening server-ip 10.1.1.1 client-mac 00:AA:BB:CC:DD:EE ports eth2.2-2.3\n!\n");
}

// The reset brings every setting back through the kernel filter; a rule whose deletion is refused stays and
// the reset goes on with the next; the present ports stay.
TEST_F(DaemonCommands, ResetGoesOnPastARefusedDeletion) {
    const PORTLIST_T present = dhcpftr_portlist_db;
    run(dhcpftr_enable_port, {"eth1.1"});
    run(dhcpftr_enable_trap_log, {});
    run(dhcpftr_add_permit_rule, {"10.1.1.1", "eth1.1"});
    run(dhcpftr_add_permit_rule, {"10.1.1.2", "eth1.2"});
    run(dhcpftr_add_permit_rule, {"10.1.1.3", "eth1.3"});
    PORTLIST_set_port(&should_update_port, kTrunk20Lport);
    sim::kernel::clear_messages();
    sim::kernel::refuse_next(1, -5, DHCPFTR_OP_DEL_RULE);  // the first rule deletion
    EXPECT_EQ(dhcpftr_cli_config_reset(), 0);
    sim::kernel::wait_idle();
    EXPECT_THAT(harness::stored_keys(), ElementsAre("10.1.1.1 00:00:00:00:00:00"));
    EXPECT_TRUE(PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db));
    EXPECT_TRUE(PORTLIST_chk_empty(&should_update_port));
    EXPECT_EQ(_dhcpftr_is_trap_enable(), 0);
    EXPECT_EQ(lports(dhcpftr_portlist_db), lports(present));
    EXPECT_EQ(sent(), 5u);  // ports, three rules, trap; the duration is 10 already
}

}  // namespace
