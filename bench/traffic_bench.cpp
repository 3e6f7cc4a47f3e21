// Benchmarks of the kernel filter's data path.
//
//   BM_ClassifyServerPacket/permitted, BM_ClassifyServerPacket/dropped
//       one DHCP server packet through classify(), with 255 rules (one server each, 416 ports) and every port
//       screened: a packet of the last server on a port its rule holds, and one of a server no rule names
//       (trap/log off, so no report). The goal is at most 100 ns per server packet on one core: a hash lookup
//       of the server and a bit test, no scan of the rules.
//   BM_ReplayFrames
//       a capture's worth of frames held in memory (a third DHCP server packets, a third client requests, a
//       third other traffic, on one port), classified one after another with counting, as a replay does
//       without the file input. The goal is above 2 million frames per second.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "bench_frames.h"
#include "kernel/screen.h"
#include "kernel/sim_traffic.h"

namespace {

constexpr uint32_t kRules = 255;
constexpr uint32_t kPort = 5;  // eth1.5

// 255 rules of one server each (10.0.i.1, every client) on every other port of every slot and every trunk,
// every port screened, trap/log off.
void full_tables() {
    sim::kernel::Tables tables;
    PORTLIST_T ports{};
    for (uint32_t slot = 0; slot < 10; ++slot)
        for (uint32_t port = 1; port <= 48; port += 2)
            PORTLIST_set_port(&ports, slot * 64 + port);
    for (uint32_t lport = 641; lport <= 768; ++lport)
        PORTLIST_set_port(&ports, lport);
    for (uint32_t i = 0; i < kRules; ++i) {
        sim::kernel::RuleKey key;
        key.server = {10, 0, static_cast<uint8_t>(i), 1};
        tables.rules[key] = ports;
    }
    for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport)
        PORTLIST_set_port(&tables.enabled, lport);
    sim::kernel::publish_screen(tables);
}

void BM_ClassifyServerPacket(benchmark::State &state) {
    full_tables();
    const bool permitted = state.range(0) != 0;
    const std::vector<uint8_t> frame = bench::bootp_frame(2, 67, 68, permitted ? 0x0A00FE01u : 0xC0A80001u, 7);
    const std::chrono::nanoseconds now{0};
    bool wrong = false;
    for (auto _ : state) {
        sim::kernel::Decision d = sim::kernel::classify(kPort, frame, now);
        wrong |= d.forwarded != permitted;
        benchmark::DoNotOptimize(d);
    }
    if (wrong)
        state.SkipWithError("a packet was decided wrongly");
    state.SetLabel("goal: <= 100 ns per server packet");
}
BENCHMARK(BM_ClassifyServerPacket)->ArgName("permitted")->Arg(1)->Arg(0);

void BM_ReplayFrames(benchmark::State &state) {
    full_tables();
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t i = 0; i < 300; ++i) {
        if (i % 3 == 0)
            frames.push_back(bench::bootp_frame(2, 67, 68, 0x0A000001u + ((i % kRules) << 8), 9));
        else if (i % 3 == 1)
            frames.push_back(bench::bootp_frame(1, 68, 67, 0, 9));
        else
            frames.push_back(bench::bootp_frame(1, 53, 53, 0x0A000001u, 9));  // not DHCP
    }
    std::chrono::nanoseconds now{0};
    for (auto _ : state) {
        for (const std::vector<uint8_t> &frame : frames) {
            now += std::chrono::microseconds(1);
            benchmark::DoNotOptimize(sim::kernel::classify(kPort, frame, now));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames.size()));
    state.SetLabel("goal: > 2M frames/s");
    sim::kernel::clear_traffic();
}
BENCHMARK(BM_ReplayFrames);

}  // namespace
