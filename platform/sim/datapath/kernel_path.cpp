// The program and its maps in the kernel (sim_datapath.h): loaded with the skeleton that bpftool generates
// from screen.bpf.c, written by the kernel filter, read back for the audit and the counters; the reports of
// the ring buffer become log lines and notifications on a thread of their own.
#include "datapath/sim_datapath.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include "datapath/classifier.h"
#include "kernel/sim_traffic.h"
#include "qvlog.h"

#if SIM_HAVE_BPF
#include <bpf/bpf.h>
#include <bpf/libbpf.h>

#include "screen.skel.h"
#endif

namespace sim::datapath {

#if SIM_HAVE_BPF
namespace {

constexpr int kLogModule = 1;
// How long the reports' thread waits for the ring buffer before it looks whether to stop.
constexpr int kReportPollMs = 100;

// Callers that expect libbpf calls to fail; their messages are not logged meanwhile.
std::atomic<int> quiet_callers{0};

// libbpf's own messages go into the log at the debug level, one line each.
int log_libbpf(enum libbpf_print_level level, const char *format, va_list args) {
    if (level == LIBBPF_DEBUG || quiet_callers.load(std::memory_order_relaxed) > 0)
        return 0;
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    qvprintf(kLogModule, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_NEW_LINE, "kernel path: %s%s", text,
             std::strchr(text, '\n') ? "" : "\n");
    return 0;
}

class KernelPath {
public:
    ~KernelPath() { unload(); }

    std::string load() {
        std::lock_guard lock(mutex_);
        if (skeleton_ != nullptr)
            return "";
        libbpf_set_print(log_libbpf);
        screen_bpf *skeleton = screen_bpf__open_and_load();
        if (skeleton == nullptr) {
            const int error = errno;
            // Without the rights the kernel says EPERM, or EACCES to a user that is not root; to root, EACCES is
            // the verifier's refusal of the program.
            if (error == EPERM || (error == EACCES && geteuid() != 0))
                return "% Screening in the kernel needs root, or the capabilities CAP_BPF and CAP_NET_ADMIN";
            return std::string("% The screening program cannot be loaded: ") + std::strerror(error);
        }
        ring_ = ring_buffer__new(bpf_map__fd(skeleton->maps.reports), on_report, nullptr, nullptr);
        if (ring_ == nullptr) {
            const int error = errno;
            screen_bpf__destroy(skeleton);
            return std::string("% The screening reports cannot be read: ") + std::strerror(error);
        }
        skeleton_ = skeleton;
        {
            std::lock_guard slots_lock(slots_.mutex);
            slots_.of.clear();
            slots_.retired.clear();
            slots_.free.clear();
            for (uint32_t slot = DP_MAX_RULES; slot-- > 0;)
                slots_.free.push_back(slot);
        }
        maps_ = Maps{bpf_map__fd(skeleton->maps.rules),     bpf_map__fd(skeleton->maps.screened),
                     bpf_map__fd(skeleton->maps.trunks),    bpf_map__fd(skeleton->maps.ports),
                     bpf_map__fd(skeleton->maps.settings),  bpf_map__fd(skeleton->maps.counters),
                     bpf_map__fd(skeleton->maps.rule_hits), bpf_map__fd(skeleton->maps.report_counts),
                     bpf_map__fd(skeleton->maps.last_report)};
        cpus_ = libbpf_num_possible_cpus();
        // From here on the kernel filter writes every change it accepts into the maps; it fills them first.
        if (!kernel::use_datapath()) {
            unload_locked();
            return "% The screening tables cannot be written into the kernel";
        }
        for (uint32_t lport = 1; lport <= DP_PORTS; ++lport)
            if (uint32_t trunk = kernel::trunk_of(lport); trunk != 0 && !write_trunk(lport, trunk)) {
                unload_locked();
                return "% The trunks cannot be written into the kernel";
            }
        stopping_ = false;
        reporter_ = std::thread([this] { read_reports(); });
        return "";
    }

    void unload() {
        std::lock_guard lock(mutex_);
        unload_locked();
    }

    bool loaded() const { return skeleton_ != nullptr; }

    int program_fd() const {
        return skeleton_ == nullptr ? -1 : bpf_program__fd(skeleton_->progs.dhcpftr_screen);
    }

    // The file descriptors of the maps, valid while loaded.
    struct Maps {
        int rules = -1, screened = -1, trunks = -1, ports = -1, settings = -1, counters = -1, rule_hits = -1,
            report_counts = -1, last_report = -1;
    };
    const Maps &maps() const { return maps_; }

    int cpus() const { return cpus_; }

    // The hit counters' slot of each rule in the kernel's map. A rule keeps its slot while it lives; the
    // hits of a rule that goes are kept here (retired) until the counters are cleared.
    struct Slots {
        std::mutex mutex;
        std::map<kernel::RuleKey, uint32_t> of;
        std::vector<uint32_t> free;
        std::map<kernel::RuleKey, uint64_t> retired;
    };
    Slots &slots() { return slots_; }

private:
    void unload_locked() {
        if (skeleton_ == nullptr)
            return;
        kernel::stop_datapath();
        stopping_ = true;
        if (reporter_.joinable())
            reporter_.join();
        ring_buffer__free(ring_);
        ring_ = nullptr;
        screen_bpf__destroy(skeleton_);
        skeleton_ = nullptr;
        maps_ = Maps{};
    }

    static int on_report(void *, void *data, size_t size) {
        if (size < sizeof(dp_report))
            return 0;
        dp_report report;
        std::memcpy(&report, data, sizeof report);
        std::array<uint8_t, 6> client;
        std::copy_n(report.client, client.size(), client.begin());
        kernel::announce_report(report.server, report.iface, client);
        return 0;
    }

    void read_reports() {
        while (!stopping_)
            ring_buffer__poll(ring_, kReportPollMs);
    }

    std::mutex mutex_;
    screen_bpf *skeleton_ = nullptr;
    ring_buffer *ring_ = nullptr;
    Slots slots_;
    Maps maps_;
    int cpus_ = 1;
    std::atomic<bool> stopping_{false};
    std::thread reporter_;
};

KernelPath &path() {
    static KernelPath instance;
    return instance;
}

const KernelPath::Maps &maps() { return path().maps(); }

// One element of a per-CPU map summed over the CPUs; false when there is none.
template <typename Value, typename Key>
bool sum_per_cpu(int map, const Key &key, Value &sum) {
    std::vector<Value> values(static_cast<std::size_t>(path().cpus()));
    if (bpf_map_lookup_elem(map, &key, values.data()) != 0)
        return false;
    sum = Value{};
    for (const Value &v : values) {
        if constexpr (std::is_same_v<Value, dp_counters>) {
            sum.forwarded += v.forwarded;
            sum.dropped += v.dropped;
            sum.malformed += v.malformed;
        } else {
            sum += v;
        }
    }
    return true;
}

}  // namespace

std::string load() { return path().load(); }

LibbpfQuiet::LibbpfQuiet() {
    libbpf_set_print(log_libbpf);
    quiet_callers.fetch_add(1, std::memory_order_relaxed);
}
LibbpfQuiet::~LibbpfQuiet() { quiet_callers.fetch_sub(1, std::memory_order_relaxed); }

bool loaded() { return path().loaded(); }

int program_fd() { return path().program_fd(); }

bool write_rule(const kernel::RuleKey &key, const PORTLIST_T *ports) {
    const dp_rule_key k = key_of(key);
    KernelPath::Slots &slots = path().slots();
    std::lock_guard lock(slots.mutex);
    auto held = slots.of.find(key);
    if (ports == nullptr) {
        if (bpf_map_delete_elem(maps().rules, &k) != 0 && errno != ENOENT)
            return false;
        if (held != slots.of.end()) {
            uint64_t hits = 0;
            sum_per_cpu(maps().rule_hits, held->second, hits);
            slots.retired[key] += hits;
            slots.free.push_back(held->second);
            slots.of.erase(held);
        }
        return true;
    }
    dp_rule rule;
    std::memcpy(rule.ports, ports->word, sizeof rule.ports);
    if (held != slots.of.end()) {
        rule.slot = held->second;
        return bpf_map_update_elem(maps().rules, &k, &rule, BPF_ANY) == 0;
    }
    if (slots.free.empty())
        return false;
    // A new rule's slot starts from no hits.
    rule.slot = slots.free.back();
    const std::vector<uint64_t> zero(static_cast<std::size_t>(path().cpus()));
    if (bpf_map_update_elem(maps().rule_hits, &rule.slot, zero.data(), BPF_ANY) != 0 ||
        bpf_map_update_elem(maps().rules, &k, &rule, BPF_ANY) != 0)
        return false;
    slots.free.pop_back();
    slots.of[key] = rule.slot;
    return true;
}

bool write_screened(uint32_t lport, bool on) {
    const uint32_t value = on ? 1 : 0;
    return bpf_map_update_elem(maps().screened, &lport, &value, BPF_ANY) == 0;
}

bool write_settings(uint8_t trap, uint32_t minutes) {
    const uint32_t zero = 0;
    const dp_settings settings{trap, minutes};
    return bpf_map_update_elem(maps().settings, &zero, &settings, BPF_ANY) == 0;
}

bool write_trunk(uint32_t lport, uint32_t trunk) {
    if (!loaded())
        return true;
    return bpf_map_update_elem(maps().trunks, &lport, &trunk, BPF_ANY) == 0;
}

bool write_port(uint32_t ifindex, uint32_t lport) {
    if (lport == 0)
        return bpf_map_delete_elem(maps().ports, &ifindex) == 0 || errno == ENOENT;
    return bpf_map_update_elem(maps().ports, &ifindex, &lport, BPF_ANY) == 0;
}

kernel::Tables read_tables() {
    kernel::Tables tables;
    if (!loaded())
        return tables;
    const int rules = maps().rules;
    dp_rule_key key;
    for (int more = bpf_map_get_next_key(rules, nullptr, &key); more == 0;
         more = bpf_map_get_next_key(rules, &key, &key)) {
        dp_rule rule;
        if (bpf_map_lookup_elem(rules, &key, &rule) != 0)
            continue;
        PORTLIST_T ports;
        std::memcpy(ports.word, rule.ports, sizeof rule.ports);
        tables.rules[key_of(key)] = ports;
    }
    for (uint32_t lport = 1; lport <= DP_PORTS; ++lport) {
        uint32_t on = 0;
        if (bpf_map_lookup_elem(maps().screened, &lport, &on) == 0 && on != 0)
            PORTLIST_set_port(&tables.enabled, lport);
    }
    const uint32_t zero = 0;
    dp_settings settings{};
    if (bpf_map_lookup_elem(maps().settings, &zero, &settings) == 0) {
        tables.trap = static_cast<uint8_t>(settings.trap);
        tables.duration = settings.suppress_minutes;
    }
    return tables;
}

kernel::TrafficCounters read_counters() {
    kernel::TrafficCounters result;
    if (!loaded())
        return result;
    for (uint32_t lport = 1; lport <= DP_PORTS; ++lport) {
        dp_counters sum;
        if (sum_per_cpu(maps().counters, lport, sum) && (sum.forwarded != 0 || sum.dropped != 0))
            result.interfaces[lport] = {sum.forwarded, sum.dropped, sum.malformed};
    }
    {
        KernelPath::Slots &slots = path().slots();
        std::lock_guard lock(slots.mutex);
        for (const auto &[key, hits] : slots.retired)
            result.rule_hits[key] += hits;
        for (const auto &[key, slot] : slots.of) {
            uint64_t sum = 0;
            if (sum_per_cpu(maps().rule_hits, slot, sum) && sum != 0)
                result.rule_hits[key] += sum;
        }
        std::erase_if(result.rule_hits, [](const auto &hits) { return hits.second == 0; });
    }
    for (uint32_t which : {0u, 1u}) {
        uint64_t sum = 0;
        sum_per_cpu(maps().report_counts, which, sum);
        (which == 0 ? result.reports_sent : result.reports_suppressed) = sum;
    }
    return result;
}

void clear_counters() {
    if (!loaded())
        return;
    const std::vector<dp_counters> zero_counters(static_cast<std::size_t>(path().cpus()));
    for (uint32_t lport = 0; lport <= DP_PORTS; ++lport)
        bpf_map_update_elem(maps().counters, &lport, zero_counters.data(), BPF_ANY);
    const std::vector<uint64_t> zero_counts(static_cast<std::size_t>(path().cpus()));
    for (uint32_t which : {0u, 1u})
        bpf_map_update_elem(maps().report_counts, &which, zero_counts.data(), BPF_ANY);
    for (uint32_t slot = 0; slot < DP_MAX_RULES; ++slot)
        bpf_map_update_elem(maps().rule_hits, &slot, zero_counts.data(), BPF_ANY);
    {
        KernelPath::Slots &slots = path().slots();
        std::lock_guard lock(slots.mutex);
        slots.retired.clear();
    }
    // Deleting the key just read makes the next walk start at the beginning again.
    uint8_t key[sizeof(uint64_t)];
    while (bpf_map_get_next_key(maps().last_report, nullptr, key) == 0)
        bpf_map_delete_elem(maps().last_report, key);
}

void unload() { path().unload(); }

#else  // no BPF in this build

std::string load() { return "% Screening in the kernel is not supported in this build"; }
LibbpfQuiet::LibbpfQuiet() = default;
LibbpfQuiet::~LibbpfQuiet() = default;
bool loaded() { return false; }
int program_fd() { return -1; }
bool write_rule(const kernel::RuleKey &, const PORTLIST_T *) { return false; }
bool write_screened(uint32_t, bool) { return false; }
bool write_settings(uint8_t, uint32_t) { return false; }
bool write_trunk(uint32_t, uint32_t) { return true; }
bool write_port(uint32_t, uint32_t) { return false; }
kernel::Tables read_tables() { return {}; }
kernel::TrafficCounters read_counters() { return {}; }
void clear_counters() {}
void unload() {}

#endif

}  // namespace sim::datapath
