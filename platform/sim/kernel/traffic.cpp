// The data path of the simulated kernel filter (sim_traffic.h): the screening snapshot that the filter's
// thread publishes after every change it accepts, and the classification of frames against it.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "datapath/classifier.h"
#include "datapath/sim_datapath.h"
#include "if_table.h"
#include "kernel/screen.h"
#include "kernel/sim_traffic.h"
#include "qvlog.h"

namespace sim::kernel {
namespace {

constexpr int kLogModule = 1;
constexpr uint32_t kPorts = PORTLIST_MAX_PORT;

// Counters of the data path. The atomics are counted from any classifying thread without a lock; the
// rule counters live in a deque so that a snapshot can point at them while new ones are added.
struct PathCounters {
    struct Interface {
        std::atomic<uint64_t> forwarded{0};
        std::atomic<uint64_t> dropped{0};
        std::atomic<uint64_t> malformed{0};
    };
    std::array<Interface, kPorts + 1> interfaces;
    std::mutex rules_mutex;  // guards the map and the deque's growth, not the counts
    std::map<RuleKey, std::atomic<uint64_t> *> rule_index;
    std::deque<std::atomic<uint64_t>> rule_hits;
    std::atomic<uint64_t> reports_sent{0};
    std::atomic<uint64_t> reports_suppressed{0};

    std::atomic<uint64_t> *hits_of(const RuleKey &key) {
        std::lock_guard lock(rules_mutex);
        auto [it, added] = rule_index.try_emplace(key, nullptr);
        if (added)
            it->second = &rule_hits.emplace_back(0);
        return it->second;
    }
};

PathCounters &path_counters() {
    static PathCounters c;
    return c;
}

// A rule as classification reads it: its ports, its key, and its hit counter.
struct Permit {
    dp_rule rule{};
    RuleKey key;
    std::atomic<uint64_t> *hits = nullptr;
};

// The classifier's rule key as one hashable value.
struct PermitKey {
    dp_rule_key key;
    bool operator==(const PermitKey &other) const { return std::memcmp(&key, &other.key, sizeof key) == 0; }
};
struct PermitKeyHash {
    std::size_t operator()(const PermitKey &k) const {
        uint64_t h = 0xCBF29CE484222325u;
        for (std::size_t i = 0; i < 10; ++i)
            h = (h ^ reinterpret_cast<const uint8_t *>(&k.key)[i]) * 0x100000001B3u;
        return static_cast<std::size_t>(h);
    }
};

// The tables as classification reads them.
struct Screen {
    PORTLIST_T enabled{};
    bool trap = false;
    uint32_t suppress_minutes = 10;
    std::unordered_map<PermitKey, Permit, PermitKeyHash> permits;

    const Permit *find(const dp_rule_key &key) const {
        auto it = permits.find(PermitKey{key});
        return it == permits.end() ? nullptr : &it->second;
    }
};

// The snapshot in force, and a count of the snapshots published: a classifying thread keeps its own copy of
// the pointer and takes the new one only when the count has moved, so a frame costs no reference count.
struct Published {
    std::atomic<std::shared_ptr<const Screen>> screen{empty_screen()};
    std::atomic<uint64_t> version{0};
    std::atomic<bool> stale{true};  // the filter's tables changed since the snapshot was built

    static std::shared_ptr<const Screen> empty_screen() { return std::make_shared<Screen>(); }
};

Published &published() {
    static Published p;
    return p;
}

const Screen &current_screen() {
    thread_local uint64_t version = ~uint64_t{0};
    thread_local std::shared_ptr<const Screen> screen;
    const uint64_t now = published().version.load(std::memory_order_acquire);
    if (now != version) {
        screen = published().screen.load(std::memory_order_acquire);
        version = now;
    }
    return *screen;
}

// Link aggregation as the filter knows it: the trunk of each port, 0 for none.
std::array<std::atomic<uint16_t>, kPorts + 1> &trunk_table() {
    static std::array<std::atomic<uint16_t>, kPorts + 1> table{};
    return table;
}

bool holds(const PORTLIST_T &ports, uint32_t lport) {
    return lport >= 1 && lport <= kPorts && (ports.word[PORTLIST_WORD_OF(lport)] & PORTLIST_MASK_OF(lport)) != 0;
}

// ---- Illegal-server reports

struct Reports {
    std::mutex mutex;
    std::map<std::pair<uint32_t, uint32_t>, std::chrono::nanoseconds> last;  // (server, interface) -> time
    std::function<void(const Report &)> hook;
};

Reports &reports() {
    static Reports r;
    return r;
}

std::string ifname_of(uint32_t lport) {
    char name[IF_NAME_BUF] = {};
    if (if_utl_ifindex_to_ifname(if_st_lport_to_ifindex(lport), name) == -1)
        return "lport " + std::to_string(lport);
    return name;
}

// Writes the log line of a report and hands it to the hook.
void announce(const Report &report, const std::function<void(const Report &)> &hook) {
    const uint32_t s = report.server;
    const auto &c = report.client;
    qvprintf(kLogModule, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE,
             "kernel: illegal DHCP server %u.%u.%u.%u on %s, client %02X:%02X:%02X:%02X:%02X:%02X\n", s >> 24,
             (s >> 16) & 0xFF, (s >> 8) & 0xFF, s & 0xFF, report.ifname.c_str(), c[0], c[1], c[2], c[3], c[4], c[5]);
    if (hook)
        hook(report);
}

// What classification of one frame reads and counts into: the snapshot, the clock of the frame, and whether
// it counts at all.
struct Context {
    const Screen &screen;
    std::chrono::nanoseconds now;
};

// Reports a dropped server packet unless the same server was reported on the interface within the
// suppress duration before now.
void report(const Context &context, const dp_verdict &verdict) {
    Reports &r = reports();
    std::function<void(const Report &)> hook;
    {
        std::lock_guard lock(r.mutex);
        const uint64_t now = static_cast<uint64_t>(context.now.count());
        auto [it, first] = r.last.try_emplace({verdict.info.server, verdict.iface}, context.now);
        if (!dp_report_due(first ? 0 : 1, static_cast<uint64_t>(it->second.count()), now,
                           context.screen.suppress_minutes)) {
            path_counters().reports_suppressed.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        it->second = context.now;
        hook = r.hook;
    }
    path_counters().reports_sent.fetch_add(1, std::memory_order_relaxed);
    Report report{verdict.info.server, verdict.iface, ifname_of(verdict.iface), {}};
    std::copy_n(verdict.info.client, report.client.size(), report.client.begin());
    announce(report, hook);
}

}  // namespace
}  // namespace sim::kernel

// The classifier's lookups and accounting over the host's snapshot.
using DpContext = const sim::kernel::Context *;
#define DP_TABLES DpContext

static dp_u32 dp_trunk_of(DpContext, dp_u32 lport) {
    return lport >= 1 && lport <= DP_PORTS ? sim::kernel::trunk_table()[lport].load(std::memory_order_relaxed) : 0;
}

static int dp_screened(DpContext context, dp_u32 iface) { return sim::kernel::holds(context->screen.enabled, iface); }

static const dp_rule *dp_rule_of(DpContext context, const dp_rule_key *key) {
    const sim::kernel::Permit *permit = context->screen.find(*key);
    return permit == nullptr ? nullptr : &permit->rule;
}

static void dp_count(DpContext, dp_u32 iface, int counter) {
    sim::kernel::PathCounters::Interface &counted = sim::kernel::path_counters().interfaces[iface];
    (counter == DP_FORWARDED ? counted.forwarded : counter == DP_DROPPED ? counted.dropped : counted.malformed)
        .fetch_add(1, std::memory_order_relaxed);
}

static void dp_hit(DpContext context, const dp_verdict *verdict) {
    if (const sim::kernel::Permit *permit = context->screen.find(verdict->rule))
        permit->hits->fetch_add(1, std::memory_order_relaxed);
}

static void dp_report(DpContext context, const dp_verdict *verdict) {
    if (context->screen.trap)
        sim::kernel::report(*context, *verdict);
}

#include "datapath/classifier.h"

namespace sim::kernel {

void tables_changed() { published().stale.store(true, std::memory_order_release); }

void publish_screen(const Tables &tables) {
    published().stale.store(false, std::memory_order_release);
    auto screen = std::make_shared<Screen>();
    screen->enabled = tables.enabled;
    screen->trap = tables.trap != 0;
    screen->suppress_minutes = tables.duration;
    for (const auto &[key, ports] : tables.rules) {
        Permit permit;
        std::memcpy(permit.rule.ports, ports.word, sizeof permit.rule.ports);
        permit.key = key;
        permit.hits = path_counters().hits_of(key);
        screen->permits.emplace(PermitKey{datapath::key_of(key)}, permit);
    }
    published().screen.store(std::move(screen), std::memory_order_release);
    published().version.fetch_add(1, std::memory_order_release);
}

Decision classify(uint32_t lport, std::span<const uint8_t> frame, std::chrono::nanoseconds now,
                  Accounting accounting) {
    if (published().stale.load(std::memory_order_acquire))
        publish_current_tables();
    const Context context{current_screen(), now};
    dp_verdict verdict;
    dp_classify(&context, lport, frame.data(), frame.data() + frame.size(),
                static_cast<dp_u32>(std::min<std::size_t>(frame.size(), UINT32_MAX)), 0, &verdict);
    if (accounting == Accounting::counted)
        dp_account(&context, &verdict);
    Decision decision;
    decision.info = frame_info_of(verdict.info);
    decision.interface = verdict.iface;
    decision.screened = verdict.screened != 0;
    decision.forwarded = verdict.forwarded != 0;
    if (verdict.has_rule)
        decision.rule = datapath::key_of(verdict.rule);
    return decision;
}

TrafficCounters traffic_counters() {
    TrafficCounters result;
    PathCounters &c = path_counters();
    for (uint32_t lport = 1; lport <= kPorts; ++lport) {
        const PathCounters::Interface &i = c.interfaces[lport];
        InterfaceCounters counted{i.forwarded.load(), i.dropped.load(), i.malformed.load()};
        if (counted.forwarded != 0 || counted.dropped != 0)
            result.interfaces[lport] = counted;
    }
    {
        std::lock_guard lock(c.rules_mutex);
        for (const auto &[key, hits] : c.rule_index)
            if (uint64_t n = hits->load(); n != 0)
                result.rule_hits[key] = n;
    }
    result.reports_sent = c.reports_sent.load();
    result.reports_suppressed = c.reports_suppressed.load();
    return result;
}

TrafficCounters all_counters() {
    TrafficCounters sum = traffic_counters();
    const TrafficCounters kernel = datapath::read_counters();
    for (const auto &[iface, c] : kernel.interfaces) {
        InterfaceCounters &to = sum.interfaces[iface];
        to.forwarded += c.forwarded;
        to.dropped += c.dropped;
        to.malformed += c.malformed;
    }
    for (const auto &[key, hits] : kernel.rule_hits)
        sum.rule_hits[key] += hits;
    sum.reports_sent += kernel.reports_sent;
    sum.reports_suppressed += kernel.reports_suppressed;
    return sum;
}

void clear_traffic() {
    PathCounters &c = path_counters();
    for (PathCounters::Interface &i : c.interfaces) {
        i.forwarded = 0;
        i.dropped = 0;
        i.malformed = 0;
    }
    {
        std::lock_guard lock(c.rules_mutex);
        for (std::atomic<uint64_t> &hits : c.rule_hits)
            hits = 0;
    }
    c.reports_sent = 0;
    c.reports_suppressed = 0;
    std::lock_guard lock(reports().mutex);
    reports().last.clear();
}

void announce_report(uint32_t server, uint32_t interface, const std::array<uint8_t, 6> &client) {
    std::function<void(const Report &)> hook;
    {
        std::lock_guard lock(reports().mutex);
        hook = reports().hook;
    }
    announce(Report{server, interface, ifname_of(interface), client}, hook);
}

uint32_t trunk_of(uint32_t lport) {
    return lport >= 1 && lport <= kPorts ? trunk_table()[lport].load(std::memory_order_relaxed) : 0;
}

void set_report_hook(std::function<void(const Report &)> hook) {
    std::lock_guard lock(reports().mutex);
    reports().hook = std::move(hook);
}

void set_trunk_of(uint32_t lport, uint32_t trunk) {
    if (lport < 1 || lport > kPorts)
        return;
    trunk = trunk <= kPorts ? trunk : 0;
    trunk_table()[lport].store(static_cast<uint16_t>(trunk), std::memory_order_relaxed);
    if (!datapath::write_trunk(lport, trunk))
        qvprintf(kLogModule, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE,
                 "kernel: the trunk of lport %u cannot be written into the kernel\n", lport);
}

}  // namespace sim::kernel
