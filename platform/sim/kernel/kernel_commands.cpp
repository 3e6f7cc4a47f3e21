// The "platform kernel" commands: a view of the simulated kernel filter's tables, counters and faults, and
// the fault injection of sim_kernel.h driven from the shell. Every handler prints through the command
// context's output function and returns 0, or 1 after printing "% ..." when an argument is unusable.
#include "kernel/kernel_commands.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"
#include "shell/platform_commands.h"
#include "shell/platform_text.h"
#include "kernel/sim_kernel.h"

namespace sim::kernel {
namespace {

using platform_commands::print;
using platform_commands::kPlatformHelp;
using platform_commands::number;
using platform_commands::client_text;
using platform_commands::ports_text;
using platform_commands::trap_text;

constexpr uint32_t kLastOpCode = 7;

// The count, delay or capacity argument text in [lo, hi]; nothing after printing "% Invalid number ...".
std::optional<int64_t> count_argument(cli *cli, const char *text, int64_t lo, int64_t hi) {
    std::optional<int64_t> value = number(text, lo, hi);
    if (!value)
        print(cli, sim::format("%% Invalid number %s\n", text));
    return value;
}

// True when the handler got the number of arguments its command gives; prints "% Invalid input" otherwise.
bool arguments(cli *cli, int argc, int expected) {
    if (argc == expected)
        return true;
    print(cli, "% Invalid input\n");
    return false;
}

// One line of the show: the label indented by two blanks and padded to 19 characters, then the value.
std::string field(const char *label, const std::string &value) {
    return sim::format("  %-19s%s\n", label, value.c_str());
}

// The pending refusals: "0", or their count, the code they apply to and their result.
std::string refusals_text(const Faults &faults) {
    if (faults.refusals == 0)
        return "0";
    std::string code = faults.refusal_op ? "code " + std::to_string(*faults.refusal_op) : "any code";
    return sim::format("%d of %s, result %d", faults.refusals, code.c_str(), faults.refusal_result);
}

// "platform kernel show": waits until the kernel filter has handled every message received, then prints its
// tables, its counters and the fault injection as they stand.
int show(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    wait_idle();
    const Tables t = tables();
    const Counters c = counters();
    const Faults f = faults();
    print(cli, "Kernel filter\n");
    print(cli, field("Enabled ports", ports_text(t.enabled)));
    print(cli, field("Trap/log", trap_text(t.trap)));
    print(cli, field("Suppress duration", std::to_string(t.duration) + " minutes"));
    print(cli, field("Rules", std::to_string(t.rules.size())));
    if (!t.rules.empty())
        print(cli, sim::format("    %-15s  %-17s  %s\n", "Server", "Client", "Ports"));
    for (const auto &[key, ports] : t.rules)
        print(cli, sim::format("    %-15r  %-17s  %s\n", key.server.data(), client_text(key.mac).c_str(),
                               ports_text(ports).c_str()));
    std::string messages = "received " + std::to_string(c.received) + ", answered " + std::to_string(c.answered) +
                           ", refused " + std::to_string(c.refused) + ", dropped " + std::to_string(c.dropped) +
                           ", failed sends " + std::to_string(c.failed_sends);
    print(cli, field("Messages", messages));
    print(cli, "Faults\n");
    print(cli, field("Refusals pending", refusals_text(f)));
    print(cli, field("Sends to fail", std::to_string(f.failing_sends)));
    print(cli, field("Answers to drop", std::to_string(f.dropping)));
    print(cli, field("Answer delay", std::to_string(f.delay.count()) + " ms"));
    print(cli, field("Rule capacity", f.capacity ? std::to_string(*f.capacity) : "unlimited"));
    print(cli, field("Trace", f.trace ? "on" : "off"));
    return 0;
}

// "platform kernel refuse <1-1000000> WORD [code <0-7>]": refuses the next N operations (of that code only,
// when given) with the result WORD, a signed 32-bit number. Replaces a refusal still pending.
int refuse(cli *cli, int argc, char **argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "code") == 0)) {
        print(cli, "% Invalid input\n");
        return 1;
    }
    std::optional<int64_t> count = count_argument(cli, argv[0], 1, 1000000);
    if (!count)
        return 1;
    std::optional<int64_t> result = number(argv[1], INT32_MIN, INT32_MAX);
    if (!result) {
        print(cli, sim::format("%% Invalid result %s\n", argv[1]));
        return 1;
    }
    std::optional<uint32_t> op;
    if (argc == 4) {
        std::optional<int64_t> code = count_argument(cli, argv[3], 0, kLastOpCode);
        if (!code)
            return 1;
        op = static_cast<uint32_t>(*code);
    }
    refuse_next(static_cast<int>(*count), static_cast<int32_t>(*result), op);
    return 0;
}

// Runs apply with the one argument of a fault command when it is a number from lo to hi; otherwise prints
// why not and returns 1.
int with_number(cli *cli, int argc, char **argv, int64_t lo, int64_t hi, const std::function<void(int64_t)> &apply) {
    if (!arguments(cli, argc, 1))
        return 1;
    std::optional<int64_t> value = count_argument(cli, argv[0], lo, hi);
    if (!value)
        return 1;
    apply(*value);
    return 0;
}

// "platform kernel fail-sends <1-1000000>": the next N sends fail, the messages never reach the kernel filter.
int fail_sends(cli *cli, int argc, char **argv) {
    return with_number(cli, argc, argv, 1, 1000000, [](int64_t n) { fail_next_sends(static_cast<int>(n)); });
}

// "platform kernel drop <1-1000000>": the next N answers are dropped; their operations are still applied.
int drop(cli *cli, int argc, char **argv) {
    return with_number(cli, argc, argv, 1, 1000000, [](int64_t n) { drop_next_answers(static_cast<int>(n)); });
}

// "platform kernel delay <0-60000>": every answer is sent that many milliseconds after its operation.
int delay(cli *cli, int argc, char **argv) {
    return with_number(cli, argc, argv, 0, 60000,
                       [](int64_t ms) { set_answer_delay(std::chrono::milliseconds(ms)); });
}

// "platform kernel capacity <0-100000>": the kernel filter holds at most that many rules.
int capacity(cli *cli, int argc, char **argv) {
    return with_number(cli, argc, argv, 0, 100000,
                       [](int64_t rules) { set_rule_capacity(static_cast<size_t>(rules)); });
}

// "platform kernel capacity unlimited": no limit on the rules.
int capacity_unlimited(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    set_rule_capacity(std::nullopt);
    return 0;
}

// "platform kernel trace on": every message received is written into the log (level 101) as hex bytes.
int trace_on(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    set_trace(true);
    return 0;
}

// "platform kernel trace off": stops the message trace.
int trace_off(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    set_trace(false);
    return 0;
}

// "platform kernel clear": forgets the pending refusals, failing sends and dropped answers, sets the answer
// delay to 0 and lifts the rule capacity. The trace stays as it is.
int clear(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    clear_faults();
    set_answer_delay(std::chrono::milliseconds(0));
    set_rule_capacity(std::nullopt);
    return 0;
}

// Help texts: one per token; a token shared by several commands has one text.
const char kKernelHelp[] = "Simulated kernel filter";
const char kCapacityHelp[] = "Limit the rules the kernel filter holds";
const char kTraceHelp[] = "Trace the messages the kernel filter receives into the log";

const char *show_help[] = {kPlatformHelp, kKernelHelp, "Show the tables, counters and faults", nullptr};
const char *refuse_help[] = {kPlatformHelp,
                             kKernelHelp,
                             "Refuse the next operations",
                             "Operations to refuse",
                             "Result of the refusals (a signed number such as -100)",
                             "Refuse only operations of one code",
                             "Operation code",
                             nullptr};
const char *fail_sends_help[] = {kPlatformHelp, kKernelHelp, "Fail the next sends", "Sends to fail", nullptr};
const char *drop_help[] = {kPlatformHelp, kKernelHelp, "Drop the next answers", "Answers to drop", nullptr};
const char *delay_help[] = {kPlatformHelp, kKernelHelp, "Delay every answer", "Delay in milliseconds", nullptr};
const char *capacity_help[] = {kPlatformHelp, kKernelHelp, kCapacityHelp, "Rules at most", nullptr};
const char *capacity_unlimited_help[] = {kPlatformHelp, kKernelHelp, kCapacityHelp, "No limit", nullptr};
const char *trace_on_help[] = {kPlatformHelp, kKernelHelp, kTraceHelp, "Start the trace", nullptr};
const char *trace_off_help[] = {kPlatformHelp, kKernelHelp, kTraceHelp, "Stop the trace", nullptr};
const char *clear_help[] = {kPlatformHelp, kKernelHelp,
                            "Forget the pending faults, the answer delay and the rule capacity", nullptr};

cli_element records[] = {
    {"platform kernel show", show, show_help, {0, 0, 0, 0, 0}},
    {"platform kernel refuse <1-1000000> WORD [code <0-7>]", refuse, refuse_help, {0, 0, 0, 0, 0}},
    {"platform kernel fail-sends <1-1000000>", fail_sends, fail_sends_help, {0, 0, 0, 0, 0}},
    {"platform kernel drop <1-1000000>", drop, drop_help, {0, 0, 0, 0, 0}},
    {"platform kernel delay <0-60000>", delay, delay_help, {0, 0, 0, 0, 0}},
    {"platform kernel capacity <0-100000>", capacity, capacity_help, {0, 0, 0, 0, 0}},
    {"platform kernel capacity unlimited", capacity_unlimited, capacity_unlimited_help, {0, 0, 0, 0, 0}},
    {"platform kernel trace on", trace_on, trace_on_help, {0, 0, 0, 0, 0}},
    {"platform kernel trace off", trace_off, trace_off_help, {0, 0, 0, 0, 0}},
    {"platform kernel clear", clear, clear_help, {0, 0, 0, 0, 0}},
};

}  // namespace

int install_commands(cli_tree *tree) { return platform_commands::install(tree, records); }

}  // namespace sim::kernel
