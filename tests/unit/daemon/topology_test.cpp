// The topology events as the platform delivers them: interfaces added and deleted, ports joining and leaving
// trunks, line cards pulled, and trunks deferred while booting, their configuration applied when they appear.
// Each case checks the daemon's lists and store, the kernel messages in their order and the exact log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "chassis/sim_chassis.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_nsm.h"
#include "dhcpftr_stacking.h"
#include "kernel/sim_kernel.h"
#include "services/sim_services.h"
#include "support/daemon_harness.h"

using harness::lports;
using harness::rule;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr uint32_t kTrunk1Lport = 641;
constexpr uint32_t kTrunk4Lport = 644;
const harness::Mac kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// A platform interface record with a name, an ifindex and a state byte.
interface record(const char *name, uint32_t ifindex, uint8_t state = IF_STATE_PRESENT) {
    interface ifp{};
    std::snprintf(ifp.name, sizeof(ifp.name), "%s", name);
    ifp.ifindex = ifindex;
    ifp.state = state;
    return ifp;
}

// The daemon's log lines of the topology handlers (the commits' own lines left out).
std::vector<std::string> topology_log() {
    static const char *const kSources[] = {"dhcpftr_nsm_vr_if", "Dhcpftr_Nsm_Recv_Cfg_LACP", "DHCPFTR_ST_",
                                           "Removed portlist"};
    std::vector<std::string> out;
    bool continuing = false;
    for (const std::string &line : harness::daemon_log()) {
        if (line.compare(3, 3, " 0 ") == 0) {  // "LEVEL 0 ..." starts a line
            continuing = false;
            for (const char *source : kSources)
                continuing = continuing || line.find(source) == 6;
        }
        if (continuing)
            out.push_back(line);
    }
    return out;
}

class Topology : public ::testing::Test {
protected:
    void SetUp() override { harness::boot_quietly(); }

    // Stores a rule through the kernel filter.
    static void store(const char *server, const harness::Mac &mac, std::initializer_list<uint32_t> ports) {
        DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule(server, mac, ports);
        int32_t result = 1;
        Dhcpftr_DB_Update_Rule(&entry, &result);
        ASSERT_EQ(result, 0);
    }

    // Enables screening on ports through the kernel filter.
    static void enable(std::initializer_list<uint32_t> lports) {
        PORTLIST_T list = harness::ports(lports);
        int32_t result = 1;
        Dhcpftr_DB_Update_Ports_to_K(&list, &result);
        ASSERT_EQ(result, 0);
        PORTLIST_or(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &list);
    }

    static void start_over() {
        sim::kernel::wait_idle();
        sim::kernel::clear_messages();
        harness::capture_log();
    }

    static std::vector<std::string> rules() { return harness::rule_lines(harness::stored_rules()); }
};

// Events that change nothing, each sending nothing and logging only its own lines: interfaces outside the
// ports and trunks (no line), an add of a present port (even while booting with pending entries for it), a
// delete of an absent port, deletes with a state other than 1 (the port is only absent until added again), a
// change value other than 0 and 1, a join of ports without screening, physical slot ids outside 0 to 9 and
// the CPU cards, a card insertion and a master change.
TEST_F(Topology, EventsThatChangeNothing) {
    enable({1, 3, 12, 65, kTrunk4Lport});
    store("10.1.1.1", {}, {3, 4, 12, kTrunk4Lport});
    PORTLIST_set_port(&should_update_port, kTrunk1Lport);
    DHCPFTR_PENDING_RULE_T key{};  // copied into the list
    key.server_ip = rule("10.1.1.9").server_ip;
    _dhcpftr_add_list_first(0, &key);
    const PORTLIST_T present = dhcpftr_portlist_db;
    auto only_logged = [](const char *event, const std::vector<std::string> &log) {
        SCOPED_TRACE(event);
        EXPECT_THAT(harness::kernel_messages(), IsEmpty());
        EXPECT_EQ(topology_log(), log);
        start_over();
    };
    start_over();
    for (uint32_t ifindex : {5120u, 5889u, 10001u}) {
        interface ifp = record("vlan1", ifindex, IF_STATE_DELETED_FOR_GOOD);
        EXPECT_EQ(dhcpftr_nsm_vr_if_add(&ifp), 0);
        EXPECT_EQ(dhcpftr_nsm_vr_if_del(&ifp), 0);
    }
    only_logged("ifindexes of neither", {});
    sim::procm::set_ready(0);
    interface trunk = record("port-channel1", 5761);
    EXPECT_EQ(dhcpftr_nsm_vr_if_add(&trunk), 0);
    sim::procm::set_ready(1);
    only_logged("present trunk added", {"103 0 dhcpftr_nsm_vr_if_add [#]: port port-channel1 already existed\n\n"});
    PORTLIST_clear_port(&dhcpftr_portlist_db, 1);
    interface gone = record("eth1.1", 5121, IF_STATE_DELETED_FOR_GOOD);
    EXPECT_EQ(dhcpftr_nsm_vr_if_del(&gone), 0);
    PORTLIST_set_port(&dhcpftr_portlist_db, 1);
    only_logged("absent port deleted", {"103 0 dhcpftr_nsm_vr_if_del [#]: port eth1.1 is not existed\n\n"});
    for (uint8_t state : {0, 2, 3}) {
        interface ifp = record("eth1.3", 5123, state);
        dhcpftr_nsm_vr_if_del(&ifp);
        EXPECT_FALSE(PORTLIST_chk_port_exist(&dhcpftr_portlist_db, 3)) << int(state);
        dhcpftr_nsm_vr_if_add(&ifp);
    }
    only_logged("deleted keeping the configuration", {});
    EXPECT_EQ(sim::Chassis::instance().notify("port-channel4", "eth1.12", 2), "");
    EXPECT_EQ(sim::Chassis::instance().join("port-channel5", "eth1.13"), "");
    only_logged("change value 2, join without screening", {});
    for (int32_t slot : {-1, 10, 0, 1})
        EXPECT_EQ(DHCPFTR_ST_Hot_Remove_Cb(slot), 0);
    only_logged("slots", {"101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: Invalid slot id -1\n",
                          "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: Invalid slot id 10\n",
                          "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: CPU card remove\n\n",
                          "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: CPU card remove\n\n"});
    EXPECT_EQ(DHCPFTR_ST_Hot_Insert_Cb(7), 0);
    EXPECT_EQ(DHCPFTR_ST_Master_Change_Cb(7), 0);
    only_logged("insertion, master change", {});
    EXPECT_EQ(std::memcmp(&present, &dhcpftr_portlist_db, sizeof(present)), 0);
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1, 3, 12, 65, kTrunk4Lport));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.1/0: 3 4 12 644"));
    EXPECT_THAT(lports(should_update_port), ElementsAre(kTrunk1Lport));
    EXPECT_NE(_dhcpftr_get_list_first(0), nullptr);
}

// A delete for good disables the port, then flushes it from every rule in key order: one line per stored
// rule, also for rules without the port; a rule losing its last port disappears and the walk goes on; a
// failed commit is logged and the walk goes on.
TEST_F(Topology, DeleteForGoodFlushesEveryRule) {
    enable({5});
    store("10.1.1.1", {}, {5});
    store("10.1.1.2", kMac, {6});
    store("10.1.1.3", {}, {5, 7});
    store("10.1.1.4", {}, {5});
    start_over();
    sim::kernel::refuse_next(1, -9, DHCPFTR_OP_DEL_PORTS);
    interface ifp = record("eth1.5", 5125, IF_STATE_DELETED_FOR_GOOD);
    EXPECT_EQ(dhcpftr_nsm_vr_if_del(&ifp), 0);
    EXPECT_THAT(harness::kernel_messages(), ElementsAre("ports 5 5", "rule 1 1/0 5", "rule 1 3/0 5", "rule 1 4/0 5"));
    EXPECT_THAT(topology_log(),
                ElementsAre("101 0 dhcpftr_nsm_vr_if_del [#]: eth1.5 is deleted\n",
                            "101 0 dhcpftr_nsm_vr_if_del [#]: eth1.5 failed, status code -9\n",
                            "101 0 dhcpftr_nsm_vr_if_del [#]: flush port eth1.5 for key "
                            "{10.1.1.1,00:00:00:00:00:00}, ret 0\n",
                            "101 0 dhcpftr_nsm_vr_if_del [#]: flush port eth1.5 for key "
                            "{10.1.1.2,00:11:22:33:44:55}, ret 0\n",
                            "101 0 dhcpftr_nsm_vr_if_del [#]: flush port eth1.5 for key "
                            "{10.1.1.3,00:00:00:00:00:00}, ret 0\n",
                            "101 0 dhcpftr_nsm_vr_if_del [#]: flush port eth1.5 for key "
                            "{10.1.1.4,00:00:00:00:00:00}, ret 0\n"));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.2/85: 6", "10.1.1.3/0: 7"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(5)) << "the refused disabling keeps it enabled";
    EXPECT_FALSE(PORTLIST_chk_port_exist(&dhcpftr_portlist_db, 5));
}

// A join moves screening from the member to the aggregate: the member's disabling, the aggregate's
// re-enabling, then per rule the member's removal followed by the aggregate's re-sending.
TEST_F(Topology, TrunkJoinMovesScreeningToTheAggregate) {
    enable({9, kTrunk4Lport});
    store("10.1.1.1", {}, {9});                    // only the member: disappears
    store("10.1.1.2", {}, {9, kTrunk4Lport});      // both: keeps the aggregate
    store("10.1.1.3", {}, {10});                   // neither: untouched, nothing sent
    store("10.1.1.4", kMac, {kTrunk4Lport, 11});   // only the aggregate: re-sent
    start_over();
    EXPECT_EQ(sim::Chassis::instance().join("port-channel4", "eth1.9"), "");
    EXPECT_THAT(harness::kernel_messages(), ElementsAre("ports 5 9", "ports 4 644", "rule 1 1/0 9", "rule 1 2/0 9",
                                          "rule 0 2/0 644", "rule 0 4/85 644"));
    EXPECT_THAT(topology_log(),
                ElementsAre("101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: flush port 5129 for key "
                            "{10.1.1.1,00:00:00:00:00:00}, ret 0\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: flush port 5129 for key "
                            "{10.1.1.2,00:00:00:00:00:00}, ret 0\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: Update port-channel4 for key "
                            "{10.1.1.2,00:00:00:00:00:00}, ret 0\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: Update port-channel4 for key "
                            "{10.1.1.4,00:11:22:33:44:55}, ret 0\n"));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.2/0: 644", "10.1.1.3/0: 10", "10.1.1.4/85: 11 644"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(kTrunk4Lport));

    // The departure only re-sends the aggregate; the member comes back with nothing.
    start_over();
    EXPECT_EQ(sim::Chassis::instance().leave("port-channel4", "eth1.9"), "");
    EXPECT_THAT(harness::kernel_messages(), ElementsAre("ports 4 644", "rule 0 2/0 644", "rule 0 4/85 644"));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.2/0: 644", "10.1.1.3/0: 10", "10.1.1.4/85: 11 644"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(kTrunk4Lport));
}

// Failed commits of a join are logged with their results and the join goes on.
TEST_F(Topology, TrunkJoinGoesOnPastFailedCommits) {
    enable({12, kTrunk4Lport});
    store("10.1.1.1", {}, {12, kTrunk4Lport});
    start_over();
    sim::kernel::fail_next_sends(2);
    EXPECT_EQ(sim::Chassis::instance().join("port-channel4", "eth1.12"), "");
    EXPECT_THAT(topology_log(),
                ElementsAre("101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: Remove enabled portlist for "
                            "port-channel4 failed, status code -30\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: Update enabled portlist for "
                            "port-channel4 failed, status code -30\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: flush port 5132 for key "
                            "{10.1.1.1,00:00:00:00:00:00}, ret 0\n",
                            "101 0 Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add [#]: Update port-channel4 for key "
                            "{10.1.1.1,00:00:00:00:00:00}, ret 0\n"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(12, kTrunk4Lport)) << "the member stays enabled";
    EXPECT_THAT(rules(), ElementsAre("10.1.1.1/0: 644"));
}

// User slot 3 takes lports 129 to 176 out of every list and rule in one commit each, and nothing else: a
// rule with ports of two slots keeps the other slot's, a rule of the slot only disappears.
TEST_F(Topology, LineCardRemoval) {
    enable({128, 129, 176, 177, 641});
    store("10.1.1.1", {}, {129, 176});
    store("10.1.1.2", {}, {1});
    store("10.1.1.3", kMac, {130, 200});
    start_over();
    EXPECT_EQ(DHCPFTR_ST_Hot_Remove_Cb(2), 0);
    EXPECT_THAT(topology_log(),
                ElementsAre("101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: Physical slot 2, removed\n",
                            "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: User view slot 3, removed\n",
                            "101 0 Removed portlist: ", "101 1 eth3.1", "101 1 -3.48", "101 1 \n",
                            "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: flush port, ret 0\n",
                            "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: flush port, ret 0\n",
                            "101 0 DHCPFTR_ST_Hot_Remove_Cb [#]: flush port, ret 0\n"));
    std::vector<std::string> sent = harness::kernel_messages();
    ASSERT_EQ(sent.size(), 3u) << "the disabling and two rules";
    EXPECT_EQ(sent[0].substr(0, 12), "ports 5 129 ");
    EXPECT_EQ(sent[1].substr(0, 10), "rule 1 1/0");
    EXPECT_EQ(sent[2].substr(0, 11), "rule 1 3/85");
    EXPECT_THAT(rules(), ElementsAre("10.1.1.2/0: 1", "10.1.1.3/85: 200"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(128, 177, 641));
    for (uint32_t p = 1; p <= PORTLIST_MAX_PORT; ++p) {
        bool slot3 = p >= 129 && p <= 176;
        bool was_present = (p - 1) % 64 < 48 || (p >= 641 && p <= 648);
        ASSERT_EQ(PORTLIST_chk_port_exist(&dhcpftr_portlist_db, p) != 0, was_present && !slot3 && p <= 648) << p;
    }
}

// While booting, a trunk that does not exist yet is deferred, silently: the enable command puts it into the
// pending-enable list and a disabling takes it out again; a rule command puts the key onto the trunk's
// pending-rule list (a command left with no port of its own fails, for the replay); removing a rule leaves the
// lists as they were. When the trunk is added its enabling and rules are committed, newest first; a failing
// commit is logged and the next is still made; every pending key is gone afterwards. Once the system is
// ready, an add only records the port.
TEST_F(Topology, BootDefersTrunksAndAppliesTheirConfigurationWhenTheyAppear) {
    sim::procm::set_ready(0);
    harness::Terminal term;
    EXPECT_EQ(term.call(dhcpftr_enable_port, {"port-channel12,port-channel20,eth1.1"}), "0|");
    EXPECT_EQ(term.call(dhcpftr_disable_port, {"port-channel20,port-channel21"}), "0|");
    harness::capture_log();
    EXPECT_EQ(term.call(dhcpftr_add_permit_rule, {"10.1.1.1", "port-channel12"}), "1|");
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("101 0 _dhcpftr_if_range_validate_if [#]: ifp for port-channel12 is not found during "
                            "bootup, might not be created yet\n",
                            "101 0 _dhcpftr_port_range_to_portlist [#]: if port-channel12 is not found during "
                            "bootup,trunk id 11\n",
                            "101 0 dhcpftr_add_permit_rule [#]: Insert rule portlist is empty\n"));
    EXPECT_EQ(term.call(dhcpftr_add_permit_rule, {"10.1.1.2", "port-channel12"}), "1|");
    const std::vector<std::string> with_mac{"10.1.1.3", "client-mac", "00:11:22:33:44:55", "port-channel12,eth1.1"};
    EXPECT_EQ(term.call(dhcpftr_add_permit_rule, with_mac), "0|");
    EXPECT_EQ(term.call(dhcpftr_remove_permit_rule, {"10.1.1.1", "port-channel21"}), "0|");
    EXPECT_EQ(term.call(dhcpftr_enable_port, {"eth11.1"}), "1|% No such interface eth11.1\n");
    EXPECT_EQ(_dhcpftr_get_list_first(11)->client_mac[5], 0x55);
    EXPECT_THAT(lports(should_update_port), ElementsAre(652));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.3/85: 1"));
    start_over();
    sim::kernel::refuse_next(1, -100, DHCPFTR_OP_ADD_RULE);  // the newest pending rule, 10.1.1.3
    EXPECT_EQ(sim::Chassis::instance().add("port-channel12"), "");
    EXPECT_THAT(harness::kernel_messages(),
                ElementsAre("ports 4 652", "rule 0 3/85 652", "rule 0 2/0 652", "rule 0 1/0 652"));
    EXPECT_THAT(topology_log(),
                ElementsAre("101 0 dhcpftr_nsm_vr_if_add [#]: port port-channel12 trunk id 11\n",
                            "103 0 dhcpftr_nsm_vr_if_add [#]: port-channel12 update failed, status code -100\n"));
    EXPECT_THAT(rules(), ElementsAre("10.1.1.1/0: 652", "10.1.1.2/0: 652", "10.1.1.3/85: 1"));
    EXPECT_THAT(lports(dhcpftr_cfg_portlist_db), ElementsAre(1, 652));
    EXPECT_TRUE(PORTLIST_chk_empty(&should_update_port));
    EXPECT_EQ(_dhcpftr_get_list_first(11), nullptr);

    // A failed pending enabling stays pending; after the boot a trunk's pending entries wait for a reset.
    EXPECT_EQ(term.call(dhcpftr_enable_port, {"port-channel13"}), "0|");
    EXPECT_EQ(term.call(dhcpftr_add_permit_rule, {"10.1.1.4", "port-channel14"}), "1|");
    start_over();
    sim::kernel::refuse_next(1, -5, DHCPFTR_OP_ADD_PORTS);
    EXPECT_EQ(sim::Chassis::instance().add("port-channel13"), "");
    EXPECT_THAT(topology_log(), ElementsAre("101 0 dhcpftr_nsm_vr_if_add [#]: failed, status code -5\n",
                                            "101 0 dhcpftr_nsm_vr_if_add [#]: port port-channel13 trunk id 12\n"));
    EXPECT_THAT(lports(should_update_port), ElementsAre(653));
    sim::procm::set_ready(1);
    start_over();
    EXPECT_EQ(sim::Chassis::instance().add("port-channel14"), "");
    EXPECT_THAT(harness::kernel_messages(), IsEmpty());
    EXPECT_NE(_dhcpftr_get_list_first(13), nullptr);
    EXPECT_TRUE(PORTLIST_chk_port_exist(&dhcpftr_portlist_db, 654));
}

}  // namespace
