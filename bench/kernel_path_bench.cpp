// Benchmarks of the kernel's data path; each stops with the reason when the program cannot be loaded here
// (no rights to load BPF, or a build without it).
//
//   BM_KernelClassify
//       one permitted DHCP server packet through the loaded BPF program (BPF_PROG_TEST_RUN, repeated in the
//       kernel) and through the host's build of the same classifier, with 255 rules (one server each, on
//       every other port) and every port screened. Prints "kernel classification: ..." (goal <= 100 ns).
//   BM_KernelRuleCreations
//       255 rule creations through the daemon's commits, with the kernel filter writing each into the
//       kernel's rules map before it answers (goal <= 5 ms); the deletions that empty the store again run
//       outside the timing.
#include <arpa/inet.h>
#include <linux/pkt_cls.h>
#include <stdio.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#if DHCPFTR_HAVE_BPF
#include <bpf/bpf.h>
#endif

#include "bench_frames.h"
#include "datapath/sim_datapath.h"
#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "kernel/sim_kernel.h"
#include "kernel/sim_traffic.h"
#include "summary.h"

namespace {

constexpr uint32_t kRules = 255;
constexpr uint32_t kPort = 5;       // eth1.5, held by every rule
constexpr uint32_t kLoopback = 1;  // the interface BPF_PROG_TEST_RUN runs a tc program on

// The rule of server 10.0.i.1 for all clients, on every other port of every slot and every trunk.
DHCPFTR_PERMIT_RULE_ENTRY_T rule(uint32_t i) {
    DHCPFTR_PERMIT_RULE_ENTRY_T entry{};
    const std::string server = "10.0." + std::to_string(i) + ".1";
    entry.server_ip = inet_addr(server.c_str());
    for (uint32_t slot = 0; slot < 10; ++slot)
        for (uint32_t port = 1; port <= 48; port += 2)
            PORTLIST_set_port(&entry.portlist, slot * 64 + port);
    for (uint32_t lport = 641; lport <= 768; ++lport)
        PORTLIST_set_port(&entry.portlist, lport);
    return entry;
}

// The daemon's commits of the 255 rules (or their deletions); the first result that is not 0.
int32_t commit_rules(bool add) {
    for (uint32_t i = 0; i < kRules; ++i) {
        DHCPFTR_PERMIT_RULE_ENTRY_T entry = rule(i);
        int32_t result = 0;
        (add ? Dhcpftr_DB_Update_Rule : Dhcpftr_DB_Delete_Rule_to_K)(&entry, &result);
        if (result != 0)
            return result;
    }
    return 0;
}

int32_t commit_all_ports(bool enable) {
    PORTLIST_T all{};
    for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport)
        PORTLIST_set_port(&all, lport);
    int32_t result = 0;
    (enable ? Dhcpftr_DB_Update_Ports_to_K : Dhcpftr_DB_Delete_Ports_to_K)(&all, &result);
    return result;
}

// The data path loaded for one benchmark, taken out again when it ends.
class Loaded {
public:
    Loaded() : why_(sim::datapath::load()) {}
    ~Loaded() { sim::datapath::unload(); }
    Loaded(const Loaded &) = delete;
    Loaded &operator=(const Loaded &) = delete;
    const std::string &why_not() const { return why_; }

private:
    std::string why_;
};

void BM_KernelClassify(benchmark::State &state) {
#if DHCPFTR_HAVE_BPF
    Loaded loaded;
    if (!loaded.why_not().empty()) {
        state.SkipWithError(loaded.why_not().c_str());
        return;
    }
    if (commit_rules(true) != 0 || commit_all_ports(true) != 0 || !sim::datapath::write_port(kLoopback, kPort)) {
        state.SkipWithError("the tables could not be set up");
        return;
    }
    const std::vector<uint8_t> frame = bench::bootp_frame(2, 67, 68, 0x0A00FE01u, 7);  // 10.0.254.1
    constexpr uint32_t kRepeat = 1000000;
    double kernel_ns = 0;
    bool wrong = false;
    for (auto _ : state) {
        LIBBPF_OPTS(bpf_test_run_opts, run, .data_in = frame.data(), .data_size_in = static_cast<uint32_t>(frame.size()),
                    .repeat = kRepeat);
        wrong |= bpf_prog_test_run_opts(sim::datapath::program_fd(), &run) != 0 || run.retval != TC_ACT_OK;
        kernel_ns = run.duration;  // the mean of the repeats, in ns
    }
    const auto start = std::chrono::steady_clock::now();
    constexpr int kHostRuns = 1000000;
    for (int i = 0; i < kHostRuns; ++i)
        wrong |= !sim::kernel::classify(kPort, frame, std::chrono::nanoseconds(0)).forwarded;
    const double host_ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kHostRuns;
    commit_all_ports(false);
    commit_rules(false);
    sim::kernel::clear_traffic();
    if (wrong) {
        state.SkipWithError("a packet was decided wrongly");
        return;
    }
    state.counters["kernel_ns"] = kernel_ns;
    state.counters["host_ns"] = host_ns;
    char line[200];
    snprintf(line, sizeof line,
             "kernel classification: %.0f ns per packet, host %.0f ns per packet, 255 rules, every port enabled "
             "(goal <= 100 ns)",
             kernel_ns, host_ns);
    bench::summary().push_back(line);
#else
    state.SkipWithError("no kernel data path in this build");
#endif
}
BENCHMARK(BM_KernelClassify)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_KernelRuleCreations(benchmark::State &state) {
    Loaded loaded;
    if (!loaded.why_not().empty()) {
        state.SkipWithError(loaded.why_not().c_str());
        return;
    }
    for (auto _ : state) {
        if (commit_rules(true) != 0) {
            state.SkipWithError("a rule creation failed");
            return;
        }
        state.PauseTiming();
        const bool in_maps = sim::datapath::read_tables().rules.size() == kRules;
        if (!in_maps || commit_rules(false) != 0) {
            state.SkipWithError(in_maps ? "a rule deletion failed" : "the kernel's map lacks rules");
            return;
        }
        state.ResumeTiming();
    }
    state.SetLabel("goal: <= 5 ms");
}
BENCHMARK(BM_KernelRuleCreations)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
