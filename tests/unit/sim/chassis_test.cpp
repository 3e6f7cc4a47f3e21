// The simulated chassis: interface identities, the two interface tables, hooks and notifications, and the
// topology changes that the platform commands drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "if_table.h"
#include "nsm/sim_nsm.h"
#include "support/chassis_events.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(ChassisIdentity, NamesIfindexesAndLportsAgree) {
    struct Case {
        const char *name;
        uint32_t ifindex;
        uint32_t lport;
    } cases[] = {
        {"eth1.1", 5121, 1},          {"eth1.48", 5168, 48},       {"eth2.1", 5185, 65},
        {"eth3.1", 5249, 129},        {"eth10.48", 5744, 624},     {"port-channel1", 5761, 641},
        {"port-channel128", 5888, 768},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(if_utl_ifname_to_ifindex(c.name), c.ifindex);
        EXPECT_EQ(if_ifindex_to_st_lport(c.ifindex), c.lport);
        EXPECT_EQ(if_st_lport_to_ifindex(c.lport), c.ifindex);
        char name[IF_NAME_BUF];
        ASSERT_NE(if_utl_ifindex_to_ifname(c.ifindex, name), -1);
        EXPECT_STREQ(name, c.name);
    }
}

TEST(ChassisIdentity, NumbersOutsideTheRangesHaveNoPortOrName) {
    EXPECT_EQ(if_ifindex_to_st_lport(5120), 0u);
    EXPECT_EQ(if_ifindex_to_st_lport(5889), 0u);
    EXPECT_EQ(if_st_lport_to_ifindex(0), 0u);
    EXPECT_EQ(if_st_lport_to_ifindex(769), 0u);
    char name[IF_NAME_BUF];
    for (uint32_t ifindex : {5120u, 5169u, 5184u, 5760u, 5889u})  // ports 49-64 of a slot have no name
        EXPECT_EQ(if_utl_ifindex_to_ifname(ifindex, name), -1) << ifindex;
    EXPECT_EQ(if_ifindex_to_st_lport(5169), 49u) << "an unnamed port still has its bit";
}

TEST(ChassisIdentity, MalformedNamesStandForNothing) {
    for (const char *name : {"eth", "eth1", "eth0.1", "eth11.1", "eth1.0", "eth1.49", "eth01.1", "eth1.1x",
                             "port-channel0", "port-channel129", "port-channel", "Eth1.1", ""})
        EXPECT_EQ(if_utl_ifname_to_ifindex(name), 0u) << name;
}

TEST(ChassisIdentity, TypeCodesFollowTheNamePrefix) {
    EXPECT_EQ(if_check_if_type_by_ifname("eth1.1"), IF_TYPE_ETHERNET);
    EXPECT_EQ(if_check_if_type_by_ifname("port-channel9"), IF_TYPE_TRUNK);
    EXPECT_EQ(if_check_if_type_by_ifname("port-channel"), IF_TYPE_TRUNK);
    EXPECT_EQ(if_check_if_type_by_ifname("vlan1"), IF_TYPE_VLAN);
    EXPECT_EQ(if_check_if_type_by_ifname("lo"), IF_TYPE_OTHER);
}

std::vector<std::string> g_hook_calls;

int record_add(interface *ifp) {
    g_hook_calls.push_back(std::string("add ") + ifp->name + " " + std::to_string(ifp->state));
    return 0;
}

int record_delete(interface *ifp) {
    g_hook_calls.push_back(std::string("delete ") + ifp->name + " " + std::to_string(ifp->state));
    return 0;
}

TEST(ChassisTables, AddAndDeleteRunTheHooksOfTheRoutersTable) {
    sim::Chassis &chassis = sim::Chassis::instance();
    if_table *vr = chassis.vr_table();
    if_add_hook(vr, NSM_IF_HOOK_ADD, record_add);
    if_add_hook(vr, NSM_IF_HOOK_DELETE, record_delete);

    interface *ifp = chassis.add_interface("port-channel9");
    ASSERT_NE(ifp, nullptr);
    EXPECT_EQ(ifp->ifindex, 5769u);
    EXPECT_EQ(chassis.add_interface("port-channel9"), nullptr) << "it exists already";
    EXPECT_EQ(chassis.add_interface("eth1.49"), nullptr) << "no such port";
    EXPECT_EQ(if_lookup_by_name(vr, "port-channel9"), ifp);
    EXPECT_EQ(if_lookup_by_index(vr, 5769), ifp);

    EXPECT_TRUE(chassis.delete_interface("port-channel9", IF_STATE_DELETED_FOR_GOOD));
    EXPECT_FALSE(chassis.delete_interface("port-channel9", IF_STATE_DELETED_FOR_GOOD));
    EXPECT_EQ(if_lookup_by_name(vr, "port-channel9"), nullptr);
    EXPECT_EQ(chassis.add_interface("port-channel9"), ifp) << "a record that comes back is the same record";
    EXPECT_THAT(g_hook_calls, ElementsAre("add port-channel9 0", "delete port-channel9 1", "add port-channel9 0"));
}

TEST(ChassisTables, GetByNameMakesARecordOnlyInTheGlobalTable) {
    sim::Chassis &chassis = sim::Chassis::instance();
    if_table *global = chassis.global_ctx()->ift;
    EXPECT_EQ(ifg_lookup_by_name(global, "port-channel20"), nullptr);
    interface *made = ifg_get_by_name(global, "port-channel20");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->ifindex, 5780u);
    EXPECT_EQ(ifg_lookup_by_name(global, "port-channel20"), made);
    EXPECT_EQ(if_lookup_by_name(chassis.vr_ctx()->ift, "port-channel20"), nullptr) << "it does not exist";
    EXPECT_EQ(ifg_get_by_name(global, "a-name-longer-than-twenty"), nullptr);
    EXPECT_EQ(chassis.add_interface("port-channel20"), made);
}

TEST(ChassisBoot, DefaultChassisHas480PortsEightTrunksAndVlan1) {
    sim::Chassis &chassis = sim::Chassis::instance();
    chassis.create_port_interfaces();
    chassis.create_boot_trunks();
    if_table *vr = chassis.vr_table();
    EXPECT_EQ(vr->by_name.size(), 480u + 8u + 1u);
    EXPECT_NE(if_lookup_by_name(vr, "eth10.48"), nullptr);
    EXPECT_NE(if_lookup_by_name(vr, "port-channel8"), nullptr);
    EXPECT_EQ(if_lookup_by_name(vr, "port-channel9"), nullptr);
    interface *vlan = if_lookup_by_name(vr, "vlan1");
    ASSERT_NE(vlan, nullptr);
    EXPECT_EQ(vlan->ifindex, 10001u);
}

int g_notified = 0;
int count_notification(void *msg, void *) {
    g_notified += static_cast<int>(static_cast<NSM_LACP_AGG_PORT_MSG_T *>(msg)->change) + 1;
    return 0;
}

TEST(NsmClient, DeliversANotificationOnlyToTheHandlerOfItsModuleAndType) {
    NSM_NOTIFY_HDLR_T handlers[] = {{0x402, count_notification}};
    NSM_INC_MODULE_T modules[] = {{"LACP", 0, handlers, 1}};
    uint32_t proto = 57;
    ASSERT_EQ(NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client(0, &proto, modules, 1, nullptr), 0);
    NSM_LACP_AGG_PORT_MSG_T msg{};
    msg.change = 1;
    EXPECT_TRUE(sim::nsm::deliver("LACP", 0x402, &msg));
    EXPECT_FALSE(sim::nsm::deliver("LACP", 0x403, &msg));
    EXPECT_FALSE(sim::nsm::deliver("STP", 0x402, &msg));
    EXPECT_EQ(g_notified, 2);
}

// A chassis of its own, booted as the switch boots, whose events are recorded from then on.
class ChassisTopology : public ::testing::Test {
protected:
    void SetUp() override {
        chassis.create_port_interfaces();
        chassis.create_boot_trunks();
        harness::record_chassis_events(chassis);
    }
    int state(const char *name) const { return chassis.find(name)->state; }
    sim::Chassis chassis;
};

// "delete eth3.P 1" for the ports of slot 3 but skipped, or "add eth3.P 0" for all of them.
std::vector<std::string> slot3(const char *what, int skipped = 0) {
    std::vector<std::string> lines;
    for (int port = 1; port <= 48; ++port)
        if (port != skipped)
            lines.push_back(std::string(what) + " eth3." + std::to_string(port) + (what[0] == 'a' ? " 0" : " 1"));
    return lines;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(ChassisTopology, DeletingAMemberOrATrunkEndsTheMembershipFirst) {
    for (const char *port : {"eth1.1", "eth1.2"})
        ASSERT_EQ(chassis.join("port-channel1", port), "");
    ASSERT_EQ(chassis.join("port-channel2", "eth2.5"), "");
    harness::chassis_events();
    EXPECT_EQ(chassis.remove("eth2.5", 0), "");
    EXPECT_EQ(chassis.remove("port-channel1", IF_STATE_DELETED_FOR_GOOD), "");
    EXPECT_EQ(chassis.add("port-channel1"), "");
    EXPECT_THAT(chassis.members("port-channel1"), IsEmpty()) << "a trunk that comes back has no members";
    EXPECT_THAT(harness::chassis_events(),
                ElementsAre("lacp port-channel2 5762 eth2.5 0, state 0", "delete eth2.5 0",
                            "lacp port-channel1 5761 eth1.1 0, state 0", "lacp port-channel1 5761 eth1.2 0, state 0",
                            "delete port-channel1 1", "add port-channel1 0"));
}

TEST_F(ChassisTopology, PullingALineCardCallsBackThenEndsItsMembershipsThenDeletesItsPorts) {
    ASSERT_EQ(chassis.join("port-channel1", "eth3.5"), "");
    ASSERT_EQ(chassis.join("port-channel1", "eth1.1"), "");
    ASSERT_EQ(chassis.remove("eth3.2", 0), "");
    harness::chassis_events();
    EXPECT_EQ(chassis.remove_card(2), "");
    EXPECT_EQ(harness::chassis_events(),
              joined({"removal 2", "lacp port-channel1 5761 eth3.5 0, state 0"}, slot3("delete", 2)));
    EXPECT_FALSE(chassis.slot_present(3));
    EXPECT_EQ(chassis.find("eth3.1"), nullptr);
    EXPECT_EQ(chassis.trunk_of("eth1.1"), "port-channel1") << "a member of another card stays";

    EXPECT_EQ(chassis.insert_card(2), "");
    EXPECT_EQ(harness::chassis_events(), joined({"insertion 2"}, slot3("add")));
    EXPECT_EQ(chassis.trunk_of("eth3.5"), "") << "an inserted card's ports are members of no trunk";
}

TEST_F(ChassisTopology, CpuCardsOnlyCallBackAndKeepTheirPorts) {
    EXPECT_EQ(chassis.remove_card(0), "");
    EXPECT_EQ(chassis.remove_card(0), "");
    EXPECT_EQ(chassis.insert_card(1), "");
    EXPECT_THAT(harness::chassis_events(), ElementsAre("removal 0", "removal 0", "insertion 1"));
    EXPECT_EQ(chassis.vr_table()->by_name.size(), 480u + 8u + 1u);
}

TEST_F(ChassisTopology, RefusalsGiveTheirReasonAndChangeNothing) {
    ASSERT_EQ(chassis.join("port-channel1", "eth1.1"), "");
    ASSERT_EQ(chassis.remove_card(9), "");
    harness::chassis_events();
    using Change = std::function<std::string(sim::Chassis &)>;
    const struct {
        Change change;
        const char *reason;
    } cases[] = {
        {[](sim::Chassis &c) { return c.add("eth1.49"); }, "% Invalid interface name eth1.49"},
        {[](sim::Chassis &c) { return c.add("eth1.1"); }, "% Interface eth1.1 exists"},
        {[](sim::Chassis &c) { return c.add("eth10.1"); }, "% Slot 10 has no card"},
        {[](sim::Chassis &c) { return c.join("port-channel9", "eth1.2"); }, "% No such interface port-channel9"},
        {[](sim::Chassis &c) { return c.join("vlan1", "eth1.2"); }, "% vlan1 is not a trunk"},
        {[](sim::Chassis &c) { return c.join("port-channel1", "port-channel2"); },
         "% port-channel2 is not a physical port"},
        {[](sim::Chassis &c) { return c.join("port-channel2", "eth1.1"); }, "% eth1.1 is a member of port-channel1"},
        {[](sim::Chassis &c) { return c.leave("port-channel2", "eth1.1"); },
         "% eth1.1 is not a member of port-channel2"},
        {[](sim::Chassis &c) { return c.leave("eth1.2", "eth1.1"); }, "% eth1.2 is not a trunk"},
        {[](sim::Chassis &c) { return c.notify("port-channel1", "vlan1", 1); }, "% vlan1 is not a physical port"},
        {[](sim::Chassis &c) { return c.remove_card(9); }, "% Physical slot 9 (slot 10) has no card"},
        {[](sim::Chassis &c) { return c.insert_card(2); }, "% Physical slot 2 (slot 3) has a card"},
        {[](sim::Chassis &c) { return c.remove_card(10); }, "% Invalid physical slot 10"},
        {[](sim::Chassis &c) { return c.insert_card(-1); }, "% Invalid physical slot -1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(c.change(chassis), c.reason);
    }
    EXPECT_THAT(harness::chassis_events(), IsEmpty());
    EXPECT_EQ(state("eth1.1"), IF_STATE_TRUNK_MEMBER);
    EXPECT_EQ(chassis.vr_table()->by_name.size(), 480u - 48u + 8u + 1u);
}

}  // namespace
