// Benchmark of the SNMP agent: a bulk walk of the permit-rule table through a real master agent.
//
//   BM_SnmpBulkWalk/rules:25/one_cpu:1, .../rules:255/one_cpu:1, and the same with one_cpu:0
//       a private snmpd master (scripts/snmp_master.sh) and the simulated switch attached to it with
//       --agentx, its startup configuration holding that many rules; one iteration is a walk of
//       dhcpftrPermitTable (both columns) with GETBULK requests of 10 repetitions, as snmpbulkwalk makes
//       them, from the first request to the last row. Two figures, each beside its goal at 255 rules: the
//       walk's time (at most 30 ms) and the CPU time the switch process spends on it, all its threads
//       (at most 5 ms; from /proc/PID/task/*/schedstat). "per_row" is the time per rule; at 255 rules it
//       is at most 1.5 times that at 25 (each request is one search of the store, never a scan).
//       The master asks the subagent for one repetition at a time, so a walk of 255 rules is 510 AgentX
//       exchanges, each a wake-up of the other process. With one_cpu:1 the client, the master and the
//       switch share one CPU, as on the switch's single-core CPU; with one_cpu:0 they run where the
//       scheduler puts them, and on a virtual machine every wake-up across CPUs costs tens of
//       microseconds.
//   BM_SnmpCounterWalk/one_cpu:1, .../one_cpu:0
//       the same master and switch, the switch screening eth1.1 to eth1.48 with one rule on half of them, and a
//       capture replayed on each port: 48 rows of dhcpftrPortCounterTable and one of dhcpftrRuleHitTable. One
//       iteration walks both tables with GETBULK requests of 10 repetitions; the label gives the walk's time and
//       the switch's CPU time per walk. Every request reads the data path's counters once.
//
// Skipped (with an error) when the build has no SNMP agent or net-snmp's snmpd is missing.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#if DHCPFTR_BENCH_SNMP

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "spawn_process.h"

namespace {

using Oid = std::vector<oid>;

// dhcpftrObjects, dhcpftrPermitTable (two columns), dhcpftrPortCounterTable.
const Oid kObjects = {1, 3, 6, 1, 3, 2026, 1};
const Oid kPermitTable = {1, 3, 6, 1, 3, 2026, 1, 3};
const Oid kPortCounterTable = {1, 3, 6, 1, 3, 2026, 1, 6};
constexpr int kRepetitions = 10;

// The master agent and one switch attached to it, for the benchmarks of this file.
class Lab {
public:
    ~Lab() {
        stop_switch();
        if (!dir_.empty()) {
            run_script("stop");
            std::filesystem::remove_all(dir_);
        }
    }

    // Starts the master (again when it ran on other CPUs) and a switch with this startup configuration, which
    // then runs the console lines, all of them on the CPUs of this process; the reason when it cannot.
    std::string start(const std::string &configuration, bool one_cpu, const std::vector<std::string> &console = {}) {
        if (!dir_.empty() && one_cpu != one_cpu_) {
            stop_switch();
            if (run_script("restart") != 0)
                return "the master agent does not restart";
        }
        one_cpu_ = one_cpu;
        if (dir_.empty()) {
            char pattern[] = "/tmp/dhcpftr-snmp-bench.XXXXXX";
            if (mkdtemp(pattern) == nullptr)
                return "no temporary directory";
            dir_ = pattern;
            if (run_script("start") != 0)
                return "the master agent does not start (scripts/snmp_master.sh)";
            std::ifstream env(dir_ + "/master/master.env");
            for (std::string line; std::getline(env, line);)
                if (line.rfind("SNMP_PORT=", 0) == 0)
                    port_ = line.substr(10);
            if (port_.empty())
                return "no port in master.env";
        }
        stop_switch();
        const std::string config = dir_ + "/startup.conf";
        std::ofstream(config) << configuration;
        std::vector<std::string> args = {DHCPFTR_BINARY, "--batch", "--level", "20", "--startup-config", config,
                                         "--agentx", dir_ + "/master/agentx.sock"};
        switch_pid_ = start_switch(std::move(args));
        if (switch_pid_ <= 0)
            return "the switch does not start";
        std::string lines;
        for (const std::string &line : console)
            lines += line + "\n";
        if (::write(input_, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
            return "the switch does not read its console";
        return "";
    }

    const std::string &peer_port() const { return port_; }

    // The CPU time the switch process has used so far, all its threads, in seconds.
    double switch_cpu() const {
        double seconds = 0;
        std::error_code error;
        for (const auto &task : std::filesystem::directory_iterator(
                 "/proc/" + std::to_string(switch_pid_) + "/task", error)) {
            std::ifstream stat(task.path() / "schedstat");
            unsigned long long nanoseconds = 0;
            if (stat >> nanoseconds)
                seconds += static_cast<double>(nanoseconds) * 1e-9;
        }
        return seconds;
    }

private:
    // Starts the switch with standard output and error to /dev/null and standard input a pipe that stays open
    // until it is stopped. Its PID, or -1.
    pid_t start_switch(std::vector<std::string> args) {
        int input[2] = {-1, -1};
        bench::Streams streams{.in = bench::kInherited};
        if (::pipe2(input, O_CLOEXEC) == 0)
            streams.in = input[0];
        const pid_t pid = bench::spawn(std::move(args), streams);
        if (input[0] >= 0)
            ::close(input[0]);
        input_ = input[1];
        return pid;
    }

    int run_script(const char *command) {
        const int status = bench::run({"/bin/bash", DHCPFTR_SOURCE_DIR "/scripts/snmp_master.sh", command,
                                       dir_ + "/master"},
                                      {.in = bench::kInherited});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void stop_switch() {
        if (input_ >= 0)
            ::close(input_);
        input_ = -1;
        if (switch_pid_ > 0) {
            ::kill(switch_pid_, SIGTERM);
            waitpid(switch_pid_, nullptr, 0);
        }
        switch_pid_ = -1;
    }

    std::string dir_;
    std::string port_;
    bool one_cpu_ = false;
    pid_t switch_pid_ = -1;
    int input_ = -1;
};

Lab &lab() {
    static Lab instance;
    return instance;
}

// Walks from start to the end of the subtree with GETBULK requests; the number of values, or -1 when a request
// failed.
int bulk_walk(void *session, const Oid &subtree, const Oid &start) {
    Oid next = start;
    int values = 0;
    for (;;) {
        netsnmp_pdu *request = snmp_pdu_create(SNMP_MSG_GETBULK);
        request->non_repeaters = 0;
        request->max_repetitions = kRepetitions;
        snmp_add_null_var(request, next.data(), next.size());
        netsnmp_pdu *response = nullptr;
        if (snmp_sess_synch_response(session, request, &response) != STAT_SUCCESS || response == nullptr ||
            response->errstat != SNMP_ERR_NOERROR) {
            if (response != nullptr)
                snmp_free_pdu(response);
            return -1;
        }
        bool inside = true;
        for (netsnmp_variable_list *var = response->variables; var != nullptr && inside; var = var->next_variable) {
            inside = var->type != SNMP_ENDOFMIBVIEW && var->name_length > subtree.size() &&
                     snmp_oid_ncompare(var->name, var->name_length, subtree.data(), subtree.size(),
                                       subtree.size()) == 0;
            if (!inside)
                break;
            ++values;
            next.assign(var->name, var->name + var->name_length);
        }
        snmp_free_pdu(response);
        if (!inside)
            return values;
    }
}

// An SNMP session to the master, or null.
void *open_session(const std::string &port) {
    static bool initialised = false;
    if (!initialised) {
        ::setenv("MIBS", "", 1);
        snmp_disable_log();
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        init_snmp("dhcpftr-bench");
        initialised = true;
    }
    netsnmp_session settings;
    snmp_sess_init(&settings);
    std::string peer = "127.0.0.1:" + port;
    settings.peername = peer.data();
    settings.version = SNMP_VERSION_2c;
    static u_char community[] = "public";
    settings.community = community;
    settings.community_len = sizeof community - 1;
    settings.timeout = 2000000;
    settings.retries = 0;
    return snmp_sess_open(&settings);
}

double g_per_row_at_25 = 0;

// Puts this process (and the processes it starts from now on) on CPU 0 only, or on every CPU it may use.
void use_one_cpu(bool one) {
    static cpu_set_t all;
    static bool saved = sched_getaffinity(0, sizeof all, &all) == 0;
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(0, &first);
    if (saved)
        sched_setaffinity(0, sizeof(cpu_set_t), one ? &first : &all);
}

// One walk's time and the switch's CPU time for it, in seconds.
struct Figures {
    double walk = 0;
    double cpu = 0;
};

// Starts the lab (as Lab::start) and times the benchmark's iterations, each a walk from start to the end of
// subtree that must return values values. The means per walk, or nothing when the benchmark was skipped.
std::optional<Figures> time_walks(benchmark::State &state, const std::string &configuration, bool one_cpu,
                                  const std::vector<std::string> &console, const Oid &subtree, const Oid &start,
                                  int values) {
    use_one_cpu(one_cpu);
    if (std::string error = lab().start(configuration, one_cpu, console); !error.empty()) {
        state.SkipWithError(error.c_str());
        return std::nullopt;
    }
    void *session = open_session(lab().peer_port());
    if (session == nullptr) {
        state.SkipWithError("no SNMP session");
        return std::nullopt;
    }
    // The switch is ready once a walk sees every value.
    int walked = -1;
    for (int tries = 0; tries < 100 && walked != values; ++tries) {
        walked = bulk_walk(session, subtree, start);
        if (walked != values)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (walked != values) {
        snmp_sess_close(session);
        state.SkipWithError(("the walk returned " + std::to_string(walked) + " values").c_str());
        return std::nullopt;
    }
    double seconds = 0;
    const double cpu_before = lab().switch_cpu();
    for (auto _ : state) {
        auto begin = std::chrono::steady_clock::now();
        walked = bulk_walk(session, subtree, start);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (walked != values) {
            state.SkipWithError("a walk returned a different number of values");
            break;
        }
    }
    const double walks = static_cast<double>(state.iterations());
    const Figures figures{seconds / walks, (lab().switch_cpu() - cpu_before) / walks};
    snmp_sess_close(session);
    use_one_cpu(false);
    state.counters["switch_cpu_ms"] = figures.cpu * 1e3;
    return figures;
}

void BM_SnmpBulkWalk(benchmark::State &state) {
    const int rules = static_cast<int>(state.range(0));
    std::string configuration;
    for (int i = 1; i <= rules; ++i)
        configuration +=
            "ip dhcp screening server-ip 10.1." + std::to_string(i) + ".1 ports eth1.1-1.4,port-channel1\n";
    const std::optional<Figures> figures =
        time_walks(state, configuration, state.range(1) != 0, {}, kPermitTable, kPermitTable, 2 * rules);
    if (!figures)
        return;
    const double seconds = figures->walk, cpu = figures->cpu;
    const double per_row = seconds / rules;
    state.counters["per_row_us"] = per_row * 1e6;
    char label[200];
    if (rules == 25) {
        g_per_row_at_25 = per_row;
        std::snprintf(label, sizeof label, "switch CPU %.2f ms per walk; reference for the per-row goal", cpu * 1e3);
    } else {
        std::snprintf(label, sizeof label,
                      "walk %.1f ms (goal <= 30 ms), switch CPU %.2f ms per walk (goal <= 5 ms), per row %.2fx "
                      "that at 25 rules (goal <= 1.5x)",
                      seconds * 1e3, cpu * 1e3, g_per_row_at_25 > 0 ? per_row / g_per_row_at_25 : 0.0);
    }
    state.SetLabel(label);
}
BENCHMARK(BM_SnmpBulkWalk)
    ->ArgNames({"rules", "one_cpu"})
    ->Args({25, 1})
    ->Args({255, 1})
    ->Args({25, 0})
    ->Args({255, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SnmpCounterWalk(benchmark::State &state) {
    constexpr int kPorts = 48;
    const std::string configuration = "ip dhcp screening ports eth1.1-1.48\n"
                                      "ip dhcp screening server-ip 192.168.0.1 ports eth1.1-1.24\n";
    std::vector<std::string> console;
    for (int port = 1; port <= kPorts; ++port)
        console.push_back("platform traffic replay " DHCPFTR_SOURCE_DIR
                          "/tests/data/captures/netdhcp-DHCP-DISCOVER-OFFER-REQUEST-ACK.cap ingress eth1." +
                          std::to_string(port));
    // Three columns of 48 interfaces, and the one rule's hits.
    const std::optional<Figures> figures =
        time_walks(state, configuration, state.range(0) != 0, console, kObjects, kPortCounterTable, 3 * kPorts + 1);
    if (!figures)
        return;
    char label[120];
    std::snprintf(label, sizeof label, "walk %.2f ms, switch CPU %.2f ms per walk, %d rows", figures->walk * 1e3,
                  figures->cpu * 1e3, kPorts + 1);
    state.SetLabel(label);
}
BENCHMARK(BM_SnmpCounterWalk)->ArgNames({"one_cpu"})->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

#else

namespace {

void BM_SnmpBulkWalk(benchmark::State &state) { state.SkipWithError("this build has no SNMP agent"); }
BENCHMARK(BM_SnmpBulkWalk)->ArgNames({"rules", "one_cpu"})->Args({25, 1});

}  // namespace

#endif
