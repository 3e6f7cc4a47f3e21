// Benchmarks of the kernel channel: what a commit costs from the daemon's side, with the simulated kernel
// filter answering on its own thread.
//
//   BM_Exchange/waking_wait, BM_Exchange/fixed_poll
//       one exchange (send, the kernel filter's thread, the answer, the waiter's wake-up), as a suppress
//       duration commit alternating between 11 and 12 minutes, with the waking wait and with the fixed
//       100 ms poll of dhcpftr_wait_fixed_poll. The kernel filter answers at once, so with the fixed poll
//       an exchange costs either next to nothing (the answer was in at the waiter's first look) or a whole
//       poll; "full_polls" is the fraction of exchanges that lasted a whole poll or more (with the waking
//       wait that would be a missed wake-up)
//   BM_LateAnswerExchange/waking_wait, BM_LateAnswerExchange/fixed_poll
//       the same with the kernel filter answering 1 ms after reading the message: every exchange waits
//   BM_LongWait
//       one exchange whose answer the kernel filter sends 9.9 s after reading the message, just within the
//       wait's ten seconds: "cpu_ms" is the CPU time the waiting thread spent in it (the goal: little)
//   BM_RuleCreations/waking_wait, BM_RuleCreations/fixed_poll
//       255 rule creations (three ports each) into an empty store; the deletions that empty the store
//       again run outside the timing, always with the waking wait. The fixed poll runs one iteration only
//       (up to 255 polls, 25.5 s), the price of a full rule table replayed at boot
//   BM_PortsCommit
//       one commit enabling all 768 ports
//
// Every benchmark checks its work (commit results, the daemon's store and settings, the kernel filter's
// tables) and stops with an error, making the program exit with 1, at the first thing that is wrong. After
// the table the program prints each pair of waking wait and fixed poll with their ratio.
//
// The log keeps its default: no sink, so the lines the commits write are formatted but go nowhere.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "dhcpftr_ukcomm.h"
#include "kernel/sim_kernel.h"
#include "portlist.h"
#include "summary.h"
#include "wait_comparison.h"

namespace {

using bench::kFixedPoll;
using bench::kWakingWait;
using bench::WaitMode;

std::string result_error(const char *what, int32_t result) {
    return std::string(what) + " gave " + std::to_string(result);
}

// --- one exchange ---------------------------------------------------------------------------------------

// An exchange that lasts a whole poll or more: with the fixed poll, one whose answer came after the waiter's
// first look; with the waking wait, a missed wake-up.
constexpr auto kPoll = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

// The fraction of commits that lasted a whole poll or more, as the counter "full_polls".
void report_full_polls(benchmark::State &state, uint64_t full_polls, uint64_t commits) {
    state.counters["full_polls"] = commits == 0 ? 0.0 : static_cast<double>(full_polls) / static_cast<double>(commits);
}

// The kernel filter's answer delay of the benchmark, put back to none when the benchmark ends.
class AnswerDelay {
public:
    explicit AnswerDelay(std::chrono::milliseconds delay) { sim::kernel::set_answer_delay(delay); }
    ~AnswerDelay() { sim::kernel::set_answer_delay(std::chrono::milliseconds(0)); }
    AnswerDelay(const AnswerDelay &) = delete;
    AnswerDelay &operator=(const AnswerDelay &) = delete;
};

void run_exchanges(benchmark::State &state, int fixed_poll, std::chrono::milliseconds answer_delay) {
    WaitMode mode(fixed_poll);
    AnswerDelay delay(answer_delay);
    // A duration equal to the current one sends nothing: always ask for the other of 11 and 12.
    uint32_t minutes = dhcpftr_trap_duration == 11 ? 12 : 11;
    uint64_t full_polls = 0;

    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        Dhcpftr_DB_Set_Trap_duration_to_K(minutes);
        if (Clock::now() - start >= kPoll)
            ++full_polls;
        if (dhcpftr_trap_duration != minutes) {
            state.SkipWithError(("duration commit of " + std::to_string(minutes) + " not accepted").c_str());
            return;
        }
        minutes = minutes == 11 ? 12 : 11;
    }
    if (sim::kernel::tables().duration != dhcpftr_trap_duration) {
        state.SkipWithError("the kernel filter's duration differs from the daemon's");
        return;
    }
    report_full_polls(state, full_polls, static_cast<uint64_t>(state.iterations()));
}

// The kernel filter answers as soon as its thread has read the message.
void BM_Exchange(benchmark::State &state, int fixed_poll) {
    run_exchanges(state, fixed_poll, std::chrono::milliseconds(0));
}

// The kernel filter answers 1 ms after reading the message, so the answer always comes after the waiter's
// first look and every exchange really waits.
void BM_LateAnswerExchange(benchmark::State &state, int fixed_poll) {
    run_exchanges(state, fixed_poll, std::chrono::milliseconds(1));
}

// One exchange of almost ten seconds, with the CPU time of the waiting thread as the counter "cpu_ms".
void BM_LongWait(benchmark::State &state) {
    AnswerDelay delay(std::chrono::milliseconds(9900));
    uint32_t minutes = dhcpftr_trap_duration == 11 ? 12 : 11;
    double cpu_ms = 0;

    for (auto _ : state) {
        timespec start, end;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        Dhcpftr_DB_Set_Trap_duration_to_K(minutes);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cpu_ms += (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
        if (dhcpftr_trap_duration != minutes) {
            state.SkipWithError("the long wait's commit was not accepted");
            return;
        }
        minutes = minutes == 11 ? 12 : 11;
    }
    state.counters["cpu_ms"] = cpu_ms / static_cast<double>(state.iterations());
}

// --- 255 rule creations ---------------------------------------------------------------------------------

struct RuleSet {
    std::vector<DHCPFTR_PERMIT_RULE_ENTRY_T> rules;

    RuleSet() : rules(DHCPFTR_MAX_RULES) {
        for (int i = 0; i < DHCPFTR_MAX_RULES; ++i) {
            DHCPFTR_PERMIT_RULE_ENTRY_T &rule = rules[i];
            char server[32];
            memset(&rule, 0, sizeof(rule));
            snprintf(server, sizeof(server), "192.168.%d.%d", i / 16, i % 16 + 1);
            rule.server_ip = inet_addr(server);
            const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(i)};
            if (i % 2 == 1)  // odd rules for one client, even rules for all clients
                memcpy(rule.client_mac, mac, sizeof(mac));
            // Three ports in three different words of the list.
            PORTLIST_set_port(&rule.portlist, 1 + i);
            PORTLIST_set_port(&rule.portlist, 257 + i);
            PORTLIST_set_port(&rule.portlist, 513 + i);
        }
    }
};

const RuleSet &rule_set() {
    static const RuleSet set;
    return set;
}

// Empty when the kernel filter holds exactly the rules of the set, else what is wrong.
std::string kernel_mismatch(const RuleSet &set) {
    sim::kernel::Tables tables = sim::kernel::tables();
    if (tables.rules.size() != set.rules.size())
        return "the kernel filter holds " + std::to_string(tables.rules.size()) + " rules";
    for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : set.rules) {
        sim::kernel::RuleKey key;
        memcpy(key.server.data(), &rule.server_ip, key.server.size());
        memcpy(key.mac.data(), rule.client_mac, key.mac.size());
        auto it = tables.rules.find(key);
        if (it == tables.rules.end() || memcmp(&it->second, &rule.portlist, sizeof(PORTLIST_T)) != 0)
            return "the kernel filter lacks a rule or holds other ports for it";
    }
    return "";
}

void BM_RuleCreations(benchmark::State &state, int fixed_poll) {
    WaitMode mode(fixed_poll);
    const RuleSet &set = rule_set();
    size_t peak = 0;
    uint64_t full_polls = 0;

    if (Dhcpftr_DB_entry_number() != 0 || !sim::kernel::tables().rules.empty()) {
        state.SkipWithError("the store or the kernel filter is not empty at the start");
        return;
    }
    for (auto _ : state) {
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : set.rules) {
            DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule;
            int32_t result = -1;
            Clock::time_point start = Clock::now();
            Dhcpftr_DB_Update_Rule(&entry, &result);
            if (Clock::now() - start >= kPoll)
                ++full_polls;
            if (result != 0) {
                state.SkipWithError(result_error("a rule creation", result).c_str());
                return;
            }
        }

        state.PauseTiming();
        peak = sim::kernel::tables().rules.size();
        std::string wrong = kernel_mismatch(set);
        if (wrong.empty() && Dhcpftr_DB_entry_number() != DHCPFTR_MAX_RULES)
            wrong = "the store holds " + std::to_string(Dhcpftr_DB_entry_number()) + " rules";
        if (!wrong.empty()) {
            state.SkipWithError(wrong.c_str());
            return;
        }
        dhcpftr_wait_fixed_poll = kWakingWait;
        for (const DHCPFTR_PERMIT_RULE_ENTRY_T &rule : set.rules) {
            DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule;
            int32_t result = -1;
            Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
            if (result != 0) {
                state.SkipWithError(result_error("a rule deletion", result).c_str());
                return;
            }
        }
        dhcpftr_wait_fixed_poll = fixed_poll;
        if (Dhcpftr_DB_entry_number() != 0 || !sim::kernel::tables().rules.empty()) {
            state.SkipWithError("rules left after the deletions");
            return;
        }
        state.ResumeTiming();
    }
    state.counters["kernel_rules_peak"] = static_cast<double>(peak);
    report_full_polls(state, full_polls, static_cast<uint64_t>(state.iterations()) * set.rules.size());
    state.counters["per_rule"] = benchmark::Counter(static_cast<double>(set.rules.size()),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

// --- all 768 ports --------------------------------------------------------------------------------------

void BM_PortsCommit(benchmark::State &state) {
    PORTLIST_T all;
    PORTLIST_clear_all(&all);
    for (uint32_t port = 1; port <= PORTLIST_MAX_PORT; ++port)
        PORTLIST_set_port(&all, port);

    for (auto _ : state) {
        PORTLIST_T ports = all;
        int32_t result = -1;
        Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
        if (result != 0) {
            state.SkipWithError(result_error("the ports commit", result).c_str());
            return;
        }
    }
    PORTLIST_T enabled = sim::kernel::tables().enabled;
    if (memcmp(&enabled, &all, sizeof(all)) != 0) {
        state.SkipWithError("the kernel filter does not have all 768 ports enabled");
        return;
    }
    // Leave the kernel filter as found.
    int32_t result = -1;
    Dhcpftr_DB_Delete_Ports_to_K(&all, &result);
    if (result != 0) {
        state.SkipWithError(result_error("disabling the ports again", result).c_str());
        return;
    }
    enabled = sim::kernel::tables().enabled;
    if (!PORTLIST_chk_empty(&enabled))
        state.SkipWithError("ports left enabled in the kernel filter");
}

BENCHMARK_CAPTURE(BM_Exchange, waking_wait, kWakingWait)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Exchange, fixed_poll, kFixedPoll)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_LateAnswerExchange, waking_wait, kWakingWait)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_LateAnswerExchange, fixed_poll, kFixedPoll)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LongWait)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RuleCreations, waking_wait, kWakingWait)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RuleCreations, fixed_poll, kFixedPoll)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PortsCommit)->UseRealTime()->Unit(benchmark::kMicrosecond);

// --- the summary ----------------------------------------------------------------------------------------

// With the fixed poll, the share of exchanges that waited a whole poll.
std::string full_polls_note(const bench::Figures &, const bench::Figures &fixed) {
    char text[64];
    snprintf(text, sizeof(text), "fixed poll: %.0f%% waited a whole poll", fixed.mean("full_polls") * 100);
    return text;
}

[[maybe_unused]] const bool kComparisonsAdded =
    bench::add_comparison({"exchange", "BM_Exchange", 1e6, "us", full_polls_note}) &&
    bench::add_comparison({"exchange, answer 1 ms late", "BM_LateAnswerExchange", 1e6, "us", full_polls_note}) &&
    bench::add_comparison({"255 rule creations", "BM_RuleCreations", 1e3, "ms", full_polls_note});

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // The store, and the answer handler through which the kernel filter's answers reach the daemon.
    Dhcpftr_Init(0, 0);

    bench::ComparisonReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                             : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::cout << '\n';
    reporter.print_comparisons(std::cout);
    for (const std::string &line : bench::summary())
        std::cout << line << '\n';
    std::cout.flush();
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}
