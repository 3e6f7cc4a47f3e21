// The "platform kernel" commands: the show's exact layout, each command's effect on the simulated kernel
// filter's fault injection through the shell. The faults' effect on the daemon's commits is checked by the
// daemon's tests and tests/transcripts/screening_kernel.t; that an operator's session does not see the commands,
// by tests/transcripts/shell_errors.t.
#include "kernel/kernel_commands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "dhcpftr_db_commit.h"
#include "dhcpftr_init.h"
#include "format/sim_format.h"
#include "kernel/sim_kernel.h"
#include "shell/sim_shell.h"
#include "support/daemon_harness.h"

namespace {

using sim::shell::Outcome;

// The fault injection in one line: each fault that is set, "" for none.
std::string faults() {
    sim::kernel::Faults f = sim::kernel::faults();
    std::string text;
    auto add = [&text](const std::string &part) { text += (text.empty() ? "" : ", ") + part; };
    if (f.refusals != 0)
        add(sim::format("refuse %d with %d", f.refusals, f.refusal_result) +
            (f.refusal_op ? " code " + std::to_string(*f.refusal_op) : ""));
    if (f.failing_sends != 0)
        add("fail " + std::to_string(f.failing_sends));
    if (f.dropping != 0)
        add("drop " + std::to_string(f.dropping));
    if (f.delay.count() != 0)
        add("delay " + std::to_string(f.delay.count()));
    if (f.capacity)
        add("capacity " + std::to_string(*f.capacity));
    if (f.trace)
        add("trace");
    return text;
}

// Runs a line at level 15 in the EXEC mode of a tree holding only the shell's and these commands, with no
// fault set.
class KernelCommands : public ::testing::Test {
protected:
    void SetUp() override {
        sim::kernel::clear_faults();
        sim::kernel::set_answer_delay(std::chrono::milliseconds(0));
        sim::kernel::set_rule_capacity(std::nullopt);
        sim::kernel::set_trace(false);
        ASSERT_EQ(sim::kernel::install_commands(&tree), 0);
    }
    // The line's output, after "!" when the line failed.
    std::string run(const std::string &line) {
        Outcome outcome = session.execute(line);
        return (outcome == Outcome::failed ? "!" : "") + out.take();
    }
    cli_tree tree;
    sim::shell::StringOutput out;
    sim::shell::Session session{tree, out, {sim::platform_commands::kLevel, EXEC_MODE, ""}};
};

TEST_F(KernelCommands, ShowPrintsTablesCountersAndFaults) {
    ASSERT_EQ(Dhcpftr_Init(0, 0), 1);  // the daemon's store and the handler of the kernel filter's answers
    int32_t result = 1;
    for (DHCPFTR_PERMIT_RULE_ENTRY_T rule :
         {harness::rule("192.168.100.200", {0, 0x11, 0x22, 0x33, 0x44, 0xAB}, {65, 643}),
          harness::rule("10.0.0.1", {}, {1, 2, 3, 4, 5, 6, 7, 8})}) {
        Dhcpftr_DB_Update_Rule(&rule, &result);
        ASSERT_EQ(result, 0);
    }
    PORTLIST_T ports = harness::ports({1, 2, 3, 4, 641});
    Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
    ASSERT_EQ(result, 0);
    Dhcpftr_DB_Set_Trap_to_K(1);
    Dhcpftr_DB_Set_Trap_duration_to_K(20);
    for (const char *line : {"platform kernel refuse 3 -100 code 0", "platform kernel fail-sends 2",
                             "platform kernel drop 1", "platform kernel delay 5", "platform kernel capacity 40",
                             "platform kernel trace on"})
        ASSERT_EQ(run(line), "") << line;
    EXPECT_EQ(run("platform kernel show"),
              "Kernel filter\n"
              "  Enabled ports      eth1.1-1.4,port-channel1\n"
              "  Trap/log           on\n"
              "  Suppress duration  20 minutes\n"
              "  Rules              2\n"
              "    Server           Client             Ports\n"
              "    10.0.0.1         all clients        eth1.1-1.8\n"
              "    192.168.100.200  00:11:22:33:44:AB  eth2.1,port-channel3\n"
              "  Messages           received 5, answered 5, refused 0, dropped 0, failed sends 0\n"
              "Faults\n"
              "  Refusals pending   3 of code 0, result -100\n"
              "  Sends to fail      2\n"
              "  Answers to drop    1\n"
              "  Answer delay       5 ms\n"
              "  Rule capacity      40\n"
              "  Trace              on\n");
}

// A sequence of lines, each with its output and the fault injection it leaves.
TEST_F(KernelCommands, EachCommandSetsOrUndoesItsFault) {
    const struct {
        const char *line, *out, *faults;
    } steps[] = {
        {"platform kernel refuse 3 -100", "", "refuse 3 with -100"},
        {"platform kernel refuse 1000000 -2147483648 code 7", "", "refuse 1000000 with -2147483648 code 7"},
        {"platform kernel refuse 1 2147483647", "", "refuse 1 with 2147483647"},
        {"platform kernel refuse 2 2147483648", "!% Invalid result 2147483648\n", "refuse 1 with 2147483647"},
        {"platform kernel refuse 2 +5", "!% Invalid result +5\n", "refuse 1 with 2147483647"},
        {"platform kernel refuse 2 0x10", "!% Invalid result 0x10\n", "refuse 1 with 2147483647"},
        {"platform kernel clear", "", ""},
        {"platform kernel fail-sends 5", "", "fail 5"},
        {"platform kernel drop 1000000", "", "fail 5, drop 1000000"},
        {"platform kernel delay 60000", "", "fail 5, drop 1000000, delay 60000"},
        {"platform kernel capacity 0", "", "fail 5, drop 1000000, delay 60000, capacity 0"},
        {"platform kernel capacity unlimited", "", "fail 5, drop 1000000, delay 60000"},
        {"platform kernel trace on", "", "fail 5, drop 1000000, delay 60000, trace"},
        {"platform kernel capacity 3", "", "fail 5, drop 1000000, delay 60000, capacity 3, trace"},
        {"platform kernel clear", "", "trace"},  // the trace stays
        {"platform kernel trace off", "", ""},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.line);
        EXPECT_EQ(run(step.line), step.out);
        EXPECT_EQ(faults(), step.faults);
    }
}

}  // namespace
