// The data path of the simulated kernel filter (sim_traffic.h): the screening snapshot that the filter's
// thread publishes after every change it accepts, and the classification of frames against it.
#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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

// One rule of a server in the snapshot.
struct Permit {
    std::array<uint8_t, 6> client{};
    bool all_clients = false;
    PORTLIST_T ports{};
    RuleKey key;
    std::atomic<uint64_t> *hits = nullptr;
};

// The tables as classification reads them: the rules of each server in one run of `permits` (found by an
// open-addressing hash of the server address), the clients' own rules before the rule for all clients.
struct Screen {
    PORTLIST_T enabled{};
    bool trap = false;
    std::chrono::nanoseconds suppress{std::chrono::minutes(10)};

    struct Slot {
        uint32_t server = 0;
        uint32_t first = 0;
        uint32_t count = 0;  // 0: empty slot
    };
    std::vector<Slot> slots;  // a power of two, at least twice the servers
    std::vector<Permit> permits;

    static uint32_t hash(uint32_t server) { return (server * 0x9E3779B1u) >> 7; }

    // The permits of a server: a pointer to the first and their number.
    std::pair<const Permit *, uint32_t> of(uint32_t server) const {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hash(server) & mask;; i = (i + 1) & mask) {
            const Slot &slot = slots[i];
            if (slot.count == 0)
                return {nullptr, 0};
            if (slot.server == server)
                return {&permits[slot.first], slot.count};
        }
    }
};

// The snapshot in force, and a count of the snapshots published: a classifying thread keeps its own copy of
// the pointer and takes the new one only when the count has moved, so a frame costs no reference count.
struct Published {
    std::atomic<std::shared_ptr<const Screen>> screen{empty_screen()};
    std::atomic<uint64_t> version{0};
    std::atomic<bool> in_use{false};  // a snapshot was asked for: every change is published from now on

    static std::shared_ptr<const Screen> empty_screen() {
        auto screen = std::make_shared<Screen>();
        screen->slots.resize(8);
        return screen;
    }
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

uint32_t server_of(const RuleKey &key) {
    return static_cast<uint32_t>(key.server[0]) << 24 | static_cast<uint32_t>(key.server[1]) << 16 |
           static_cast<uint32_t>(key.server[2]) << 8 | key.server[3];
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

// Reports a dropped server packet unless the same server was reported on the interface within the
// suppress duration before now. A time before the last report (another capture's clock) reports again.
void report(const Screen &screen, const Decision &decision, std::chrono::nanoseconds now) {
    Reports &r = reports();
    std::function<void(const Report &)> hook;
    {
        std::lock_guard lock(r.mutex);
        auto [it, first] = r.last.try_emplace({decision.info.server, decision.interface}, now);
        if (!first) {
            if (now >= it->second && now - it->second < screen.suppress) {
                path_counters().reports_suppressed.fetch_add(1, std::memory_order_relaxed);
                return;
            }
            it->second = now;
        }
        hook = r.hook;
    }
    path_counters().reports_sent.fetch_add(1, std::memory_order_relaxed);
    Report report{decision.info.server, decision.interface, ifname_of(decision.interface), decision.info.client};
    const uint32_t s = report.server;
    const auto &c = report.client;
    qvprintf(kLogModule, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE,
             "kernel: illegal DHCP server %u.%u.%u.%u on %s, client %02X:%02X:%02X:%02X:%02X:%02X\n", s >> 24,
             (s >> 16) & 0xFF, (s >> 8) & 0xFF, s & 0xFF, report.ifname.c_str(), c[0], c[1], c[2], c[3], c[4], c[5]);
    if (hook)
        hook(report);
}

}  // namespace

void tables_changed(const Tables &tables) {
    if (published().in_use.load(std::memory_order_acquire))
        publish_screen(tables);
}

void publish_screen(const Tables &tables) {
    published().in_use.store(true, std::memory_order_release);
    auto screen = std::make_shared<Screen>();
    screen->enabled = tables.enabled;
    screen->trap = tables.trap != 0;
    screen->suppress = std::chrono::minutes(tables.duration);
    std::size_t servers = 0;
    for (auto it = tables.rules.begin(); it != tables.rules.end(); ++it)
        if (it == tables.rules.begin() || std::prev(it)->first.server != it->first.server)
            ++servers;
    std::size_t size = 8;
    while (size < 2 * servers)
        size *= 2;
    screen->slots.resize(size);
    // The map is in key order: the rules of one server are together, the one for all clients (MAC zero)
    // first. Each run is stored with the clients' own rules first, so the most specific rule wins.
    for (auto it = tables.rules.begin(); it != tables.rules.end();) {
        const uint32_t server = server_of(it->first);
        const auto first = static_cast<uint32_t>(screen->permits.size());
        std::optional<Permit> all;
        for (; it != tables.rules.end() && server_of(it->first) == server; ++it) {
            Permit permit{it->first.mac, false, it->second, it->first, path_counters().hits_of(it->first)};
            permit.all_clients =
                std::all_of(it->first.mac.begin(), it->first.mac.end(), [](uint8_t b) { return b == 0; });
            if (permit.all_clients)
                all = permit;
            else
                screen->permits.push_back(permit);
        }
        if (all)
            screen->permits.push_back(*all);
        const std::size_t mask = size - 1;
        std::size_t i = Screen::hash(server) & mask;
        while (screen->slots[i].count != 0)
            i = (i + 1) & mask;
        screen->slots[i] = {server, first, static_cast<uint32_t>(screen->permits.size()) - first};
    }
    published().screen.store(std::move(screen), std::memory_order_release);
    published().version.fetch_add(1, std::memory_order_release);
}

Decision classify(uint32_t lport, std::span<const uint8_t> frame, std::chrono::nanoseconds now,
                  Accounting accounting) {
    Decision decision;
    decision.info = inspect(frame.data(), frame.size());
    const uint32_t trunk = lport <= kPorts ? trunk_table()[lport].load(std::memory_order_relaxed) : 0;
    decision.interface = trunk != 0 ? trunk : lport;
    if (decision.info.kind == FrameKind::other)
        return decision;
    if (!published().in_use.load(std::memory_order_acquire))
        publish_current_tables();
    const Screen &screen = current_screen();
    decision.screened = holds(screen.enabled, decision.interface);
    if (!decision.screened)
        return decision;
    const Permit *permit = nullptr;
    if (decision.info.kind == FrameKind::server) {
        auto [first, count] = screen.of(decision.info.server);
        for (uint32_t i = 0; i < count && permit == nullptr; ++i)
            if ((first[i].all_clients || first[i].client == decision.info.client) &&
                holds(first[i].ports, decision.interface))
                permit = &first[i];
    }
    decision.forwarded = permit != nullptr;
    if (permit != nullptr)
        decision.rule = permit->key;
    if (accounting == Accounting::preview || decision.interface > kPorts)
        return decision;
    PathCounters::Interface &counted = path_counters().interfaces[decision.interface];
    if (permit != nullptr) {
        counted.forwarded.fetch_add(1, std::memory_order_relaxed);
        permit->hits->fetch_add(1, std::memory_order_relaxed);
        return decision;
    }
    counted.dropped.fetch_add(1, std::memory_order_relaxed);
    if (decision.info.kind == FrameKind::malformed)
        counted.malformed.fetch_add(1, std::memory_order_relaxed);
    else if (screen.trap)
        report(screen, decision, now);
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

void set_report_hook(std::function<void(const Report &)> hook) {
    std::lock_guard lock(reports().mutex);
    reports().hook = std::move(hook);
}

void set_trunk_of(uint32_t lport, uint32_t trunk) {
    if (lport >= 1 && lport <= kPorts)
        trunk_table()[lport].store(static_cast<uint16_t>(trunk <= kPorts ? trunk : 0), std::memory_order_relaxed);
}

}  // namespace sim::kernel
