// What the benchmarks that measure the daemon's wait for the kernel filter's answer both ways share: the
// switch between the waking wait and the fixed 100 ms poll, and the console reporter that prints, after the
// table, each pair of benchmarks FAMILY/waking_wait and FAMILY/fixed_poll with their ratio.
//
// A benchmark file adds its pairs with add_comparison when the program starts, as it registers its
// benchmarks; the program's main runs the benchmarks with a ComparisonReporter and then prints the pairs in
// the order they were added.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "dhcpftr_ukcomm.h"

namespace bench {

constexpr int kWakingWait = 0;
constexpr int kFixedPoll = 1;

// The wait mode of a benchmark, put back to the waking wait when the benchmark ends, however it ends.
class WaitMode {
public:
    explicit WaitMode(int fixed_poll) { dhcpftr_wait_fixed_poll = fixed_poll; }
    ~WaitMode() { dhcpftr_wait_fixed_poll = kWakingWait; }
    WaitMode(const WaitMode &) = delete;
    WaitMode &operator=(const WaitMode &) = delete;
};

// The figures of one benchmark that ran without error, summed over its runs (repetitions).
struct Figures {
    double seconds = 0;                      // real time per iteration
    std::map<std::string, double> counters;  // every counter's value
    int runs = 0;

    // The mean of a counter over the runs; 0 when the benchmark has no such counter.
    double mean(const std::string &counter) const {
        auto it = counters.find(counter);
        return it == counters.end() || runs == 0 ? 0.0 : it->second / runs;
    }
};

// One pair printed after the table.
struct Comparison {
    std::string what;    // the line's label
    std::string family;  // the benchmarks are FAMILY/waking_wait and FAMILY/fixed_poll
    double scale;        // from seconds to the unit
    std::string unit;
    // The text put in parentheses at the end of the line, from the figures of the waking wait and of the
    // fixed poll; no parentheses when it is null or gives the empty text.
    std::string (*note)(const Figures &waking, const Figures &fixed) = nullptr;
};

// The pairs, in the order they were added.
inline std::vector<Comparison> &comparisons() {
    static std::vector<Comparison> list;
    return list;
}

// Adds a pair to print after the table. Returns true, so that a file can add its pairs while the program
// starts, through the initialiser of a namespace-scope constant.
inline bool add_comparison(Comparison comparison) {
    comparisons().push_back(std::move(comparison));
    return true;
}

// The console table, and besides it the figures of every benchmark that ran without error, for the pairs
// printed after the run.
class ComparisonReporter : public benchmark::ConsoleReporter {
public:
    explicit ComparisonReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                failed_ = true;
                continue;
            }
            if (run.run_type != Run::RT_Iteration)
                continue;
            Figures &figures = figures_[run.run_name.function_name];
            figures.seconds += run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto &[name, counter] : run.counters)
                figures.counters[name] += counter.value;
            figures.runs++;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // True when a benchmark stopped with an error.
    bool failed() const { return failed_; }

    // One line per added pair whose two benchmarks both ran without error:
    //   "<what>: waking wait X <unit>, fixed poll Y <unit>, ratio Zx (<note>)"
    void print_comparisons(std::ostream &out) const {
        for (const Comparison &comparison : comparisons())
            print_comparison(out, comparison);
    }

private:
    void print_comparison(std::ostream &out, const Comparison &comparison) const {
        auto waking = figures_.find(comparison.family + "/waking_wait");
        auto fixed = figures_.find(comparison.family + "/fixed_poll");
        if (waking == figures_.end() || fixed == figures_.end())
            return;
        double waking_s = waking->second.seconds / waking->second.runs;
        double fixed_s = fixed->second.seconds / fixed->second.runs;
        char line[256];
        snprintf(line, sizeof(line), "%s: waking wait %.1f %s, fixed poll %.1f %s, ratio %.0fx",
                 comparison.what.c_str(), waking_s * comparison.scale, comparison.unit.c_str(),
                 fixed_s * comparison.scale, comparison.unit.c_str(), fixed_s / waking_s);
        out << line;
        std::string note = comparison.note == nullptr ? "" : comparison.note(waking->second, fixed->second);
        if (!note.empty())
            out << " (" << note << ")";
        out << '\n';
    }

    std::map<std::string, Figures> figures_;
    bool failed_ = false;
};

}  // namespace bench
