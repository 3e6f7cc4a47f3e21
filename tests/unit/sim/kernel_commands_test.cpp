// The "platform kernel" commands: the show's exact layout, each command's effect on the simulated kernel
// filter through the shell, their privilege level, and their faults acting on the daemon's commits.
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

// Runs a line at level 15 in the EXEC mode of a tree holding only the shell's and these commands.
struct Shell {
    Shell() { EXPECT_EQ(sim::kernel::install_commands(&tree), 0); }
    // The line's output, after "!" when the line failed.
    std::string operator()(const std::string &line) {
        Outcome outcome = session.execute(line);
        return (outcome == Outcome::failed ? "!" : "") + out.take();
    }
    cli_tree tree;
    sim::shell::StringOutput out;
    sim::shell::Session session{tree, out, {sim::kernel::kCommandLevel, EXEC_MODE, ""}};
};

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

class KernelCommands : public ::testing::Test {
protected:
    void SetUp() override {
        sim::kernel::clear_faults();
        sim::kernel::set_answer_delay(std::chrono::milliseconds(0));
        sim::kernel::set_rule_capacity(std::nullopt);
        sim::kernel::set_trace(false);
    }
};

// Initialises the daemon once in the process: its store and the handler of the kernel filter's answers.
void init_daemon() {
    static const int once = Dhcpftr_Init(0, 0);
    (void)once;
}

int32_t commit_rule(DHCPFTR_PERMIT_RULE_ENTRY_T entry) {
    int32_t result = 1;
    Dhcpftr_DB_Update_Rule(&entry, &result);
    return result;
}

int32_t commit_ports(PORTLIST_T ports) {
    int32_t result = 1;
    Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
    return result;
}

TEST_F(KernelCommands, ShowPrintsTablesCountersAndFaults) {
    init_daemon();
    ASSERT_EQ(commit_rule(harness::rule("192.168.100.200", {0, 0x11, 0x22, 0x33, 0x44, 0xAB}, {65, 643})), 0);
    ASSERT_EQ(commit_rule(harness::rule("10.0.0.1", {}, {1, 2, 3, 4, 5, 6, 7, 8})), 0);
    ASSERT_EQ(commit_ports(harness::ports({1, 2, 3, 4, 641})), 0);
    Dhcpftr_DB_Set_Trap_to_K(1);
    Dhcpftr_DB_Set_Trap_duration_to_K(20);
    Shell shell;
    for (const char *line : {"platform kernel refuse 3 -100 code 0", "platform kernel fail-sends 2",
                             "platform kernel drop 1", "platform kernel delay 5", "platform kernel capacity 40",
                             "platform kernel trace on"})
        ASSERT_EQ(shell(line), "") << line;
    EXPECT_EQ(shell("platform kernel show"),
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
    Shell shell;
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
        EXPECT_EQ(shell(step.line), step.out);
        EXPECT_EQ(faults(), step.faults);
    }
    // A session below level 15 does not see the commands.
    sim::shell::Session operator_session(shell.tree, shell.out, {CLI_PRIVILEGE_NORMAL, EXEC_MODE, ""});
    EXPECT_EQ(operator_session.execute("platform kernel drop 3"), Outcome::failed);
    EXPECT_EQ(faults(), "");
}

// Faults set from the shell act on the daemon's commits: a refusal of one code leaves other codes alone and
// gives its result; a capacity refuses the rule beyond it with -100.
TEST_F(KernelCommands, FaultsActOnTheCommits) {
    init_daemon();
    Shell shell;
    shell("platform kernel refuse 1 -7 code 4");
    Dhcpftr_DB_Set_Trap_duration_to_K(15);
    EXPECT_EQ(sim::kernel::tables().duration, 15u) << "code 3 is not refused";
    EXPECT_EQ(commit_ports(harness::ports({700})), -7);
    EXPECT_EQ(commit_ports(harness::ports({700})), 0);
    shell("platform kernel capacity " + std::to_string(sim::kernel::tables().rules.size() + 1));
    EXPECT_EQ(commit_rule(harness::rule("10.9.9.1", {}, {1})), 0);
    EXPECT_EQ(commit_rule(harness::rule("10.9.9.2", {}, {1})), sim::kernel::kNoResource);
    shell("platform kernel capacity unlimited");
    EXPECT_EQ(commit_rule(harness::rule("10.9.9.2", {}, {1})), 0);
}

}  // namespace
