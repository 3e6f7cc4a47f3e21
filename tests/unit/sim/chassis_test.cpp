// The simulated chassis: interface identities, the two interface tables, hooks and notifications, and the
// "platform chassis" commands that change its topology: what each delivers to the hooks, the link-aggregation
// handler and the stacking service, in order; their refusals; their privilege level. The show's layout, a port
// already a member of another trunk and a slot pulled twice are checked by tests/transcripts/platform_chassis.t.
#include "chassis/chassis_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "if_table.h"
#include "nsm/sim_nsm.h"
#include "shell/sim_shell.h"
#include "stacking.h"
#include "support/chassis_events.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using sim::shell::Outcome;

TEST(ChassisIdentity, NamesIfindexesLportsAndTypesAgree) {
    const struct {
        const char *name;
        uint32_t ifindex, lport;  // lport 0: none
        int type;
    } cases[] = {
        {"eth1.1", 5121, 1, IF_TYPE_ETHERNET},          {"eth1.48", 5168, 48, IF_TYPE_ETHERNET},
        {"eth2.1", 5185, 65, IF_TYPE_ETHERNET},         {"eth3.1", 5249, 129, IF_TYPE_ETHERNET},
        {"eth10.48", 5744, 624, IF_TYPE_ETHERNET},      {"port-channel1", 5761, 641, IF_TYPE_TRUNK},
        {"port-channel128", 5888, 768, IF_TYPE_TRUNK},  {"vlan1", 10001, 0, IF_TYPE_VLAN},
        {"vlan4094", 14094, 0, IF_TYPE_VLAN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(if_utl_ifname_to_ifindex(c.name), c.ifindex);
        EXPECT_EQ(if_check_if_type_by_ifname(c.name), c.type);
        EXPECT_EQ(if_ifindex_to_st_lport(c.ifindex), c.lport);
        if (c.lport != 0) {
            EXPECT_EQ(if_st_lport_to_ifindex(c.lport), c.ifindex);
        }
        char name[IF_NAME_BUF];
        ASSERT_NE(if_utl_ifindex_to_ifname(c.ifindex, name), -1);
        EXPECT_STREQ(name, c.name);
    }
    // Numbers outside the ranges have no port or name; ports 49-64 of a slot have no name but their bit.
    EXPECT_EQ(if_ifindex_to_st_lport(5120), 0u);
    EXPECT_EQ(if_ifindex_to_st_lport(5889), 0u);
    EXPECT_EQ(if_st_lport_to_ifindex(0), 0u);
    EXPECT_EQ(if_st_lport_to_ifindex(769), 0u);
    char name[IF_NAME_BUF];
    for (uint32_t ifindex : {5120u, 5169u, 5184u, 5760u, 5889u})
        EXPECT_EQ(if_utl_ifindex_to_ifname(ifindex, name), -1) << ifindex;
    EXPECT_EQ(if_ifindex_to_st_lport(5169), 49u);
    // A name the chassis cannot have has neither ifindex nor type, whatever it begins with.
    for (const char *name : {"eth", "eth1", "eth0.1", "eth11.1", "eth1.0", "eth1.49", "eth01.1", "eth1.1x",
                             "port-channel0", "port-channel129", "port-channel", "port-channel01",
                             "port-channel1x", "vlan0", "vlan4095", "vlan01", "Eth1.1", "lo", ""}) {
        EXPECT_EQ(if_utl_ifname_to_ifindex(name), 0u) << name;
        EXPECT_EQ(if_check_if_type_by_ifname(name), IF_TYPE_OTHER) << name;
    }
}

std::vector<std::string> g_hook_calls;

int record_hook(const char *what, interface *ifp) {
    g_hook_calls.push_back(std::string(what) + " " + ifp->name + " " + std::to_string(ifp->state));
    return 0;
}

TEST(ChassisTables, AddAndDeleteRunTheHooksOfTheRoutersTable) {
    sim::Chassis &chassis = sim::Chassis::instance();
    if_table *vr = chassis.vr_table();
    if_add_hook(vr, NSM_IF_HOOK_ADD, [](interface *ifp) { return record_hook("add", ifp); });
    if_add_hook(vr, NSM_IF_HOOK_DELETE, [](interface *ifp) { return record_hook("delete", ifp); });

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

// Runs a line at level 15 in the EXEC mode of a tree holding only the shell's and the chassis's commands, on
// the process's chassis booted as the switch boots, whose events are recorded from then on.
class ChassisCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sim::chassis::install_commands(&tree), 0);
        chassis.create_port_interfaces();
        chassis.create_boot_trunks();
        harness::record_chassis_events(chassis);
    }
    // The line's output, after "!" when the line failed.
    std::string run(const std::string &line) {
        Outcome outcome = session.execute(line);
        return (outcome == Outcome::failed ? "!" : "") + out.take();
    }
    sim::Chassis &chassis = sim::Chassis::instance();
    cli_tree tree;
    sim::shell::StringOutput out;
    sim::shell::Session session{tree, out, {sim::platform_commands::kLevel, EXEC_MODE, ""}};
};

// The events of pulling the card of physical slot 2 and inserting it again: one line for each port of slot 3
// ("delete eth3.P 1" but for the port already deleted, "add eth3.P 0" for all), after those given.
std::vector<std::string> slot3(std::vector<std::string> lines, const char *what, int skipped = 0) {
    for (int port = 1; port <= 48; ++port)
        if (port != skipped)
            lines.push_back(std::string(what) + " eth3." + std::to_string(port) + (what[0] == 'a' ? " 0" : " 1"));
    return lines;
}

// Each line, silent, and what the chassis delivered for it, in order: the arguments reach the right places; a
// member leaves its trunk before it or its trunk is deleted; a line card's removal calls back, ends the
// memberships of its ports, then deletes them; a CPU card's only calls back.
TEST_F(ChassisCommands, EachLineDeliversItsEventsInOrder) {
    EXPECT_EQ(chassis.find("vlan1")->ifindex, 10001u);
    const struct {
        const char *line;
        std::vector<std::string> events;
    } steps[] = {
        {"platform chassis interface delete eth1.3", {"delete eth1.3 1"}},
        {"platform chassis interface add eth1.3", {"add eth1.3 0"}},
        {"platform chassis interface delete eth1.3 state 255", {"delete eth1.3 255"}},
        {"platform chassis trunk create port-channel9", {"add port-channel9 0"}},
        {"platform chassis trunk member add port-channel9 eth2.7", {"lacp port-channel9 5769 eth2.7 1, state 2"}},
        {"platform chassis trunk notify port-channel9 eth2.7 200", {"lacp port-channel9 5769 eth2.7 200, state 2"}},
        {"platform chassis trunk member remove port-channel9 eth2.7", {"lacp port-channel9 5769 eth2.7 0, state 0"}},
        {"platform chassis trunk member add port-channel9 eth2.8", {"lacp port-channel9 5769 eth2.8 1, state 2"}},
        {"platform chassis trunk member add port-channel9 eth2.9", {"lacp port-channel9 5769 eth2.9 1, state 2"}},
        {"platform chassis trunk delete port-channel9",
         {"lacp port-channel9 5769 eth2.8 0, state 0", "lacp port-channel9 5769 eth2.9 0, state 0",
          "delete port-channel9 1"}},
        {"platform chassis trunk create port-channel9", {"add port-channel9 0"}},  // with no members
        {"platform chassis trunk member add port-channel9 eth2.8", {"lacp port-channel9 5769 eth2.8 1, state 2"}},
        {"platform chassis interface delete eth2.8 state 0",
         {"lacp port-channel9 5769 eth2.8 0, state 0", "delete eth2.8 0"}},
        {"platform chassis trunk member add port-channel1 eth3.5", {"lacp port-channel1 5761 eth3.5 1, state 2"}},
        {"platform chassis trunk member add port-channel1 eth1.1", {"lacp port-channel1 5761 eth1.1 1, state 2"}},
        {"platform chassis interface delete eth3.2 state 0", {"delete eth3.2 0"}},
        {"platform chassis slot remove 2",
         slot3({"removal 2", "lacp port-channel1 5761 eth3.5 0, state 0"}, "delete", 2)},
        {"platform chassis slot insert 2", slot3({"insertion 2"}, "add")},
        {"platform chassis slot remove 1", {"removal 1"}},
        {"platform chassis slot remove 1", {"removal 1"}},
        {"platform chassis slot insert 0", {"insertion 0"}},
        {"platform chassis stacking remove -1", {"removal -1"}},
        {"platform chassis stacking remove 10", {"removal 10"}},
        {"platform chassis stacking insert -1", {"insertion 4294967295"}},
        {"platform chassis stacking master 2147483647", {"master 2147483647"}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.line);
        EXPECT_EQ(run(step.line), "");
        EXPECT_THAT(harness::chassis_events(), ElementsAreArray(step.events));
    }
    EXPECT_THAT(chassis.members("port-channel9"), IsEmpty());
    EXPECT_EQ(chassis.trunk_of("eth1.1"), "port-channel1") << "a member of another card stays";
    EXPECT_EQ(chassis.trunk_of("eth3.5"), "") << "an inserted card's ports are members of no trunk";
}

// Refusals print the chassis's reason, or the command's own, and change nothing.
TEST_F(ChassisCommands, RefusalsPrintTheirReasonAndChangeNothing) {
    ASSERT_EQ(run("platform chassis trunk member add port-channel1 eth1.1"), "");
    ASSERT_EQ(run("platform chassis slot remove 9"), "");
    harness::chassis_events();
    const std::string before = run("platform chassis show");
    // The shell's caret under the word at offset of a line typed at the EXEC prompt.
    auto invalid = [](std::size_t offset) {
        return std::string(std::strlen("switch# ") + offset, ' ') + "^\n" + sim::shell::kErrorMarker;
    };
    const struct {
        const char *line;
        std::string out;
    } cases[] = {
        {"platform chassis interface add eth1.49", "% Invalid interface name eth1.49"},
        {"platform chassis interface add eth1.1", "% Interface eth1.1 exists"},
        {"platform chassis interface add eth10.1", "% Slot 10 has no card"},
        {"platform chassis interface delete eth1.1 state 256", invalid(47)},
        {"platform chassis trunk create eth1.1", "% eth1.1 is not a trunk"},
        {"platform chassis trunk delete vlan1", "% vlan1 is not a trunk"},
        {"platform chassis trunk member add port-channel9 eth1.2", "% No such interface port-channel9"},
        {"platform chassis trunk member add vlan1 eth1.2", "% vlan1 is not a trunk"},
        {"platform chassis trunk member add port-channel1 port-channel2", "% port-channel2 is not a physical port"},
        {"platform chassis trunk member remove port-channel2 eth1.1", "% eth1.1 is not a member of port-channel2"},
        {"platform chassis trunk member remove eth1.2 eth1.1", "% eth1.2 is not a trunk"},
        {"platform chassis trunk notify port-channel1 vlan1 1", "% vlan1 is not a physical port"},
        {"platform chassis slot insert 2", "% Physical slot 2 (slot 3) has a card"},
        {"platform chassis slot remove 10", invalid(29)},
        {"platform chassis stacking remove 2147483648", "% Invalid number 2147483648"},
        {"platform chassis stacking insert 0x1", "% Invalid number 0x1"},
        {"platform chassis stacking master +1", "% Invalid number +1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(c.line), "!" + c.out + "\n") << c.line;
    // Slot numbers the commands cannot give.
    EXPECT_EQ(chassis.remove_card(10), "% Invalid physical slot 10");
    EXPECT_EQ(chassis.insert_card(-1), "% Invalid physical slot -1");
    ST_APP_REG_T none{};
    ST_APP_Init(&none);
    EXPECT_EQ(run("platform chassis stacking remove 1"), "!% No stacking removal callback is registered\n");
    EXPECT_EQ(run("platform chassis stacking insert 1"), "!% No stacking insertion callback is registered\n");
    EXPECT_EQ(run("platform chassis stacking master 1"), "!% No stacking master callback is registered\n");
    EXPECT_THAT(harness::chassis_events(), IsEmpty());
    EXPECT_EQ(run("platform chassis show"), before);
}

TEST_F(ChassisCommands, OnlyASessionAtLevel15SeesThem) {
    for (int level : {CLI_PRIVILEGE_NORMAL, sim::platform_commands::kLevel - 1}) {
        sim::shell::Session below(tree, out, {level, EXEC_MODE, ""});
        EXPECT_EQ(below.execute("platform chassis slot remove 2"), Outcome::failed) << level;
        EXPECT_EQ(out.take(), std::string(sim::shell::kErrorUnknown) + "\n");
    }
    EXPECT_THAT(harness::chassis_events(), IsEmpty());
    EXPECT_EQ(run("platform chassis stacking master 3"), "");
    EXPECT_THAT(harness::chassis_events(), ElementsAreArray({"master 3"}));
}

}  // namespace
