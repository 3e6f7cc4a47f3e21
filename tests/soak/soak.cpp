// The soak: the randomized mirror test with topology events (tests/unit/channel/topology_mirror.h) for many
// steps of several seeds.
//   dhcpftr_soak [SEEDS [STEPS [FIRST_SEED]]]     8 seeds from 1, 12500 steps each by default
//
// The daemon's state is process-wide, so every seed plays in a fresh child process, which records each step in
// memory shared with the parent before playing it. A divergence (a failed check, or the child dying, a step
// that hangs for 10 s included) is minimised: chunks of the recorded steps are left out, halving the chunk down
// to single steps, while the rest, played in a fresh child, still fails at the same check (or dies the same
// way); steps after the failure are dropped as well. The seed, the minimal sequence as readable steps and its
// failure are printed. Exit status 1 when a seed diverged.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/daemon_harness.h"
#include "unit/channel/topology_mirror.h"

namespace {

using topology_mirror::Step;
using topology_mirror::TopologyMirror;
using Clock = std::chrono::steady_clock;

constexpr double kProgressSeconds = 5;
constexpr unsigned kStepSeconds = 10;  // a step that takes longer hangs: its child is killed

// What a child tells its parent: how far it got, and its first failure.
struct Report {
    std::atomic<uint64_t> played{0};  // steps of the sequence started: the failing one is the last
    char where[160] = {};             // the failed check as "file:line", or how the child died; empty: none
    char message[16384] = {};
};

template <class T>
T *shared_memory(size_t count) {
    void *memory = mmap(nullptr, sizeof(T) * count, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::perror("mmap");
        std::exit(2);
    }
    return static_cast<T *>(memory);
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Starts a child that boots the daemon and plays the steps next gives, each as (its position in the
// sequence, the step), until next gives none or a check fails.
template <class Next>
pid_t spawn(Report &report, uint32_t seed, Next next) {
    report.played = 0;
    report.where[0] = report.message[0] = '\0';
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    harness::boot_daemon();
    testing::TestPartResultArray failures;
    testing::ScopedFakeTestPartResultReporter reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
    TopologyMirror mirror(seed);
    size_t position;
    Step step;
    while (next(mirror, position, step)) {
        report.played = position + 1;
        alarm(kStepSeconds);
        mirror.play(step);
        if (failures.size() > 0) {
            const testing::TestPartResult &first = failures.GetTestPartResult(0);
            const char *file = first.file_name() ? first.file_name() : "?";
            const char *base = std::strrchr(file, '/');
            std::snprintf(report.where, sizeof(report.where), "%s:%d", base ? base + 1 : file, first.line_number());
            std::snprintf(report.message, sizeof(report.message), "%s", first.message());
            _exit(1);
        }
    }
    _exit(0);  // the booted daemon's threads are still running: no exit handlers
}

// The outcome of a child from its wait status: true when it failed. A child that died or exited otherwise has
// that as its failure.
bool failed(int status, Report &report) {
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        std::snprintf(report.where, sizeof(report.where), "a step hung for %u s", kStepSeconds);
    else if (WIFSIGNALED(status))
        std::snprintf(report.where, sizeof(report.where), "killed by signal %d (%s)", WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
    else if (WEXITSTATUS(status) > 1)
        std::snprintf(report.where, sizeof(report.where), "exit status %d", WEXITSTATUS(status));
    return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}

// Plays a sequence in a fresh child, leaving out the steps that do not fit the state they meet; true when it
// failed.
bool replay(Report &report, const std::vector<Step> &steps) {
    size_t at = 0;
    pid_t pid = spawn(report, 0, [&](TopologyMirror &mirror, size_t &position, Step &step) {
        while (at < steps.size() && !mirror.applicable(steps[at]))
            ++at;
        if (at == steps.size())
            return false;
        position = at;
        step = steps[at++];
        return true;
    });
    int status = 0;
    waitpid(pid, &status, 0);
    return failed(status, report);
}

void print_indented(const std::string &text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::printf("    %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// Minimises the recorded steps of a divergence and prints the result.
void minimise(const char *program, uint32_t seed, std::vector<Step> steps, Report &report) {
    const std::string where = report.where;
    const size_t recorded = steps.size();
    std::printf("\n==== divergence with seed %u at step %zu: %s\n", seed, recorded, where.c_str());
    print_indented(report.message);
    std::printf("the run again: %s 1 %zu %u\n", program, recorded, seed);
    int replays = 0;
    // True when the candidate fails the same way; it is then cut after its failing step.
    auto reproduces = [&](std::vector<Step> &candidate) {
        ++replays;
        if (!replay(report, candidate) || where != report.where)
            return false;
        candidate.resize(report.played);
        return true;
    };
    if (!reproduces(steps)) {
        std::printf("the recorded steps do not fail the same way in a fresh daemon (%s): not minimised\n",
                    report.where[0] ? report.where : "no failure");
        return;
    }
    for (size_t chunk = std::max<size_t>(steps.size() / 2, 1);;) {
        bool dropped = false;
        for (size_t at = 0; at < steps.size();) {
            std::vector<Step> candidate(steps.begin(), steps.begin() + at);
            candidate.insert(candidate.end(), steps.begin() + std::min(at + chunk, steps.size()), steps.end());
            if (!candidate.empty() && reproduces(candidate)) {
                steps = std::move(candidate);
                dropped = true;
            } else {
                at += chunk;
            }
        }
        if (chunk == 1 && !dropped)
            break;
        chunk = std::max<size_t>(chunk / 2, 1);
    }
    replay(report, steps);  // the failure of the minimal sequence itself
    std::printf("minimal sequence with seed %u: %zu of the %zu steps (%d replays), from a fresh boot:\n", seed,
                steps.size(), recorded, replays);
    for (size_t i = 0; i < steps.size(); ++i)
        std::printf("  %3zu. %s\n", i + 1, topology_mirror::describe(steps[i]).c_str());
    std::printf("its failure: %s\n", report.where);
    print_indented(report.message);
}

uint32_t argument(int argc, char **argv, int index, uint32_t otherwise) {
    if (index >= argc)
        return otherwise;
    char *end = nullptr;
    unsigned long value = std::strtoul(argv[index], &end, 10);
    if (*argv[index] == '\0' || *end != '\0' || value == 0 || value > UINT32_MAX) {
        std::fprintf(stderr, "usage: %s [SEEDS [STEPS [FIRST_SEED]]] (positive numbers)\n", argv[0]);
        std::exit(2);
    }
    return uint32_t(value);
}

}  // namespace

int main(int argc, char **argv) {
    const uint32_t seeds = argument(argc, argv, 1, 8);
    const uint32_t steps = argument(argc, argv, 2, 12500);
    const uint32_t first_seed = argument(argc, argv, 3, 1);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Step *record = shared_memory<Step>(steps);
    Report *report = new (shared_memory<Report>(1)) Report;
    std::printf("soak: the topology mirror test, seeds %u to %u, %u steps each\n", first_seed,
                first_seed + seeds - 1, steps);

    const Clock::time_point start = Clock::now();
    Clock::time_point last_progress = start;
    double minimising = 0;  // seconds spent minimising: left out of the rate
    uint64_t total = 0;
    int divergences = 0;
    auto rate = [&](uint64_t played) { return played / (seconds_since(start) - minimising); };
    for (uint32_t seed = first_seed; seed < first_seed + seeds; ++seed) {
        pid_t pid = spawn(*report, seed, [&](TopologyMirror &mirror, size_t &position, Step &step) {
            position = report->played;
            if (position == steps)
                return false;
            step = record[position] = mirror.choose();
            return true;
        });
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            usleep(20000);
            if (seconds_since(last_progress) < kProgressSeconds)
                continue;
            last_progress = Clock::now();
            uint64_t played = total + report->played;
            std::printf("  %5.0f s: seed %u (%u of %u), %llu steps, %.0f steps/s\n", seconds_since(start), seed,
                        seed - first_seed + 1, seeds, (unsigned long long)played, rate(played));
        }
        total += report->played;
        if (failed(status, *report)) {
            ++divergences;
            const Clock::time_point paused = Clock::now();
            minimise(argv[0], seed, std::vector<Step>(record, record + report->played), *report);
            minimising += seconds_since(paused);
        }
    }
    std::printf("==== soak: %llu steps, %u seeds, %.0f steps/s, %d divergences\n", (unsigned long long)total, seeds,
                rate(total), divergences);
    return divergences == 0 ? 0 : 1;
}
