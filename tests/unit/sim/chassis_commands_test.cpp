// The "platform chassis" commands: the show's exact layout, each command's arguments reaching the chassis
// and the stacking service, their refusals, and their privilege level.
#include "chassis/chassis_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "shell/sim_shell.h"
#include "stacking.h"
#include "support/chassis_events.h"

namespace {

using sim::shell::Outcome;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// Runs a line at level 15 in the EXEC mode of a tree holding only the shell's and these commands, on the
// process's chassis booted as the switch boots.
class ChassisCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sim::chassis::install_commands(&tree), 0);
        sim::Chassis &chassis = sim::Chassis::instance();
        chassis.create_port_interfaces();
        chassis.create_boot_trunks();
        harness::record_chassis_events(chassis);
    }
    // The line's output, after "!" when the line failed.
    std::string run(const std::string &line) {
        Outcome outcome = session.execute(line);
        return (outcome == Outcome::failed ? "!" : "") + out.take();
    }
    cli_tree tree;
    sim::shell::StringOutput out;
    sim::shell::Session session{tree, out, {sim::chassis::kCommandLevel, EXEC_MODE, ""}};
};

TEST_F(ChassisCommands, ShowPrintsSlotsTrunksAndOtherInterfaces) {
    for (const char *line :
         {"platform chassis trunk member add port-channel2 eth3.1",
          "platform chassis trunk member add port-channel2 eth3.2", "platform chassis interface delete eth3.21 state 0",
          "platform chassis slot remove 3", "platform chassis trunk create port-channel128",
          "platform chassis trunk delete port-channel3", "platform chassis interface add vlan20"})
        ASSERT_EQ(run(line), "") << line;
    EXPECT_EQ(run("platform chassis show"),
              "Slots\n"
              "  Slot  Card       Ports\n"
              "  1     CPU        eth1.1-1.48\n"
              "  2     CPU        eth2.1-2.48\n"
              "  3     line card  eth3.1-3.20,eth3.22-3.48\n"
              "  4     empty      none\n"
              "  5     line card  eth5.1-5.48\n"
              "  6     line card  eth6.1-6.48\n"
              "  7     line card  eth7.1-7.48\n"
              "  8     line card  eth8.1-8.48\n"
              "  9     line card  eth9.1-9.48\n"
              "  10    line card  eth10.1-10.48\n"
              "Trunks\n"
              "  Trunk            Members\n"
              "  port-channel1    none\n"
              "  port-channel2    eth3.1-3.2\n"
              "  port-channel4    none\n"
              "  port-channel5    none\n"
              "  port-channel6    none\n"
              "  port-channel7    none\n"
              "  port-channel8    none\n"
              "  port-channel128  none\n"
              "Other interfaces  vlan1,vlan20\n");
    for (const char *line : {"platform chassis interface delete vlan1", "platform chassis interface delete vlan20"})
        ASSERT_EQ(run(line), "") << line;
    for (int trunk : {1, 2, 4, 5, 6, 7, 8, 128})
        ASSERT_EQ(run("platform chassis trunk delete port-channel" + std::to_string(trunk)), "");
    EXPECT_THAT(run("platform chassis show"), ::testing::EndsWith("Trunks\n  none\nOther interfaces  none\n"));
}

// Each line, silent, and what the chassis delivered for it: the arguments reach the right places.
TEST_F(ChassisCommands, ArgumentsReachTheChassisAndTheStackingService) {
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
        {"platform chassis trunk delete port-channel9",
         {"lacp port-channel9 5769 eth2.8 0, state 0", "delete port-channel9 1"}},
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
}

// The commands' own refusals (the chassis's reasons are the model's, tested with it).
TEST_F(ChassisCommands, RefusalsPrintTheirReasonAndChangeNothing) {
    const std::string before = run("platform chassis show");
    const struct {
        const char *line, *out;
    } cases[] = {
        {"platform chassis interface delete eth1.1 state 256", "!% Invalid input\n"},
        {"platform chassis trunk create eth1.1", "!% eth1.1 is not a trunk\n"},
        {"platform chassis trunk delete vlan1", "!% vlan1 is not a trunk\n"},
        {"platform chassis slot remove 10", "!% Invalid input\n"},
        {"platform chassis stacking remove 2147483648", "!% Invalid number 2147483648\n"},
        {"platform chassis stacking insert 0x1", "!% Invalid number 0x1\n"},
        {"platform chassis stacking master +1", "!% Invalid number +1\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(c.line), c.out) << c.line;
    ST_APP_REG_T none{};
    ST_APP_Init(&none);
    EXPECT_EQ(run("platform chassis stacking remove 1"), "!% No stacking removal callback is registered\n");
    EXPECT_EQ(run("platform chassis stacking insert 1"), "!% No stacking insertion callback is registered\n");
    EXPECT_EQ(run("platform chassis stacking master 1"), "!% No stacking master callback is registered\n");
    EXPECT_THAT(harness::chassis_events(), IsEmpty());
    EXPECT_EQ(run("platform chassis show"), before);
}

TEST_F(ChassisCommands, OnlyASessionAtLevel15SeesThem) {
    for (int level : {CLI_PRIVILEGE_NORMAL, sim::chassis::kCommandLevel - 1}) {
        sim::shell::Session below(tree, out, {level, EXEC_MODE, ""});
        EXPECT_EQ(below.execute("platform chassis slot remove 2"), Outcome::failed) << level;
        EXPECT_EQ(out.take(), std::string(sim::shell::kErrorUnknown) + "\n");
    }
    EXPECT_THAT(harness::chassis_events(), IsEmpty());
    EXPECT_EQ(run("platform chassis stacking master 3"), "");
    EXPECT_THAT(harness::chassis_events(), ElementsAreArray({"master 3"}));
}

}  // namespace
