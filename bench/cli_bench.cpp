// Benchmarks of the command line with a full rule table.
//
//   BM_ShowScreening
//       "show ip dhcp screening" with 255 rules of 416 ports each (every other port of every slot, every
//       trunk) and every port enabled: about 800 KB of output into memory
//   BM_RunningConfig
//       the running-configuration writer over the same table
//   BM_BootReplay/empty, BM_BootReplay/full
//       a whole `dhcpftr --batch` process from start to exit: without a startup configuration, and replaying
//       one with every port enabled and 255 rules of 416 ports each; the difference is the replay
//
// The two in-process benchmarks fill the store directly (the kernel filter is not involved in showing) and
// empty it again when they end.
#include <arpa/inet.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "shell/sim_shell.h"
#include "spawn_process.h"

namespace {

constexpr uint32_t kRules = DHCPFTR_MAX_RULES;

// A command context of the shell whose output goes into text: the shell's own output function.
cli text_context(sim::shell::StringOutput &text) {
    cli ctx{};
    ctx.out = sim::shell::output;
    ctx.out_target = static_cast<sim::shell::Output *>(&text);
    return ctx;
}

// Every other port of every slot, and every trunk: no two set ports of a slot are consecutive, so the port
// text has one piece per port.
PORTLIST_T many_ports() {
    PORTLIST_T ports;
    PORTLIST_clear_all(&ports);
    for (uint32_t slot = 0; slot < 10; ++slot)
        for (uint32_t port = 1; port <= 48; port += 2)
            PORTLIST_set_port(&ports, slot * 64 + port);
    for (uint32_t lport = 641; lport <= 768; ++lport)
        PORTLIST_set_port(&ports, lport);
    return ports;
}

// The store and the enabled ports of a full table, for as long as the benchmark runs.
class FullTable {
public:
    FullTable() {
        PORTLIST_T ports = many_ports();
        for (uint32_t i = 0; i < kRules; ++i) {
            DHCPFTR_PERMIT_RULE_ENTRY_T e{};
            e.server_ip = htonl(0x0A000001u + (i << 8));
            e.client_mac[5] = static_cast<uint8_t>(i % 2 ? i : 0);
            e.portlist = ports;
            Dhcpftr_DB_Insert_Rule(&e);
        }
        for (uint32_t p = 1; p <= PORTLIST_MAX_PORT; ++p)
            PORTLIST_set_port(&dhcpftr_cfg_portlist_db, p);
    }
    ~FullTable() {
        while (DHCPFTR_PERMIT_RULE_ENTRY_T *e = Dhcpftr_DB_Get_First_Rule()) {
            DHCPFTR_PERMIT_RULE_ENTRY_T key = *e;
            Dhcpftr_DB_Delete_Rule(&key);
        }
        PORTLIST_clear_all(&dhcpftr_cfg_portlist_db);
    }
    FullTable(const FullTable &) = delete;
    FullTable &operator=(const FullTable &) = delete;
};

void run_view(benchmark::State &state, int (*view)(cli *)) {
    FullTable table;
    if (Dhcpftr_DB_entry_number() != static_cast<int>(kRules)) {
        state.SkipWithError("the store did not take 255 rules");
        return;
    }
    sim::shell::StringOutput text;
    cli ctx = text_context(text);
    std::size_t bytes = 0;
    for (auto _ : state) {
        view(&ctx);
        bytes = text.take().size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetLabel("goal: <= 5 ms");
}

void BM_ShowScreening(benchmark::State &state) {
    run_view(state, [](cli *ctx) { return dhcpftr_show(ctx, 0, nullptr); });
}

void BM_RunningConfig(benchmark::State &state) { run_view(state, dhcpftr_cli_config_write); }

// The startup configuration of a full table, written by the writer itself.
std::string full_startup_config() {
    FullTable table;
    sim::shell::StringOutput text;
    cli ctx = text_context(text);
    dhcpftr_cli_config_write(&ctx);
    return text.take();
}

// Runs `dhcpftr --batch [--startup-config FILE]` with empty input and output to /dev/null; its exit status.
int run_dhcpftr(const std::string &startup) {
    std::vector<std::string> args = {DHCPFTR_BINARY, "--batch"};
    if (!startup.empty())
        args.insert(args.end(), {"--startup-config", startup});
    return bench::run(std::move(args));
}

void BM_BootReplay(benchmark::State &state, bool full) {
    std::string file;
    if (full) {
        file = "/tmp/dhcpftr-bench-startup-" + std::to_string(getpid()) + ".conf";
        std::ofstream(file) << full_startup_config();
    }
    for (auto _ : state) {
        if (run_dhcpftr(file) != 0) {
            state.SkipWithError("dhcpftr did not exit with 0");
            break;
        }
    }
    if (full) {
        std::remove(file.c_str());
        state.SetLabel("goal: <= 100 ms");
    }
}

}  // namespace

BENCHMARK(BM_ShowScreening)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunningConfig)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BootReplay, empty, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BootReplay, full, true)->UseRealTime()->Unit(benchmark::kMillisecond);
