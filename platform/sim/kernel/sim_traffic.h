// The data path of the simulated kernel filter: DHCP server screening of frames, from the filter's own
// tables only (what it accepted from the daemon), never from the daemon's store.
//
// A frame arrives on a port (logical port number). Its ingress interface is the port, or the port's trunk when
// the port is a trunk member. On an interface without screening every frame passes. On a screened one a DHCP
// server packet (sim_frame.h) passes when a rule holds its IPv4 source address as the server, holds the
// interface in its ports, and has an all-zero client MAC or the packet's chaddr; otherwise it is dropped. A
// malformed packet is dropped there.
//
// Classification reads an immutable snapshot of the filter's tables, built anew before the first frame after a
// change the filter accepted: between changes it takes no lock that the daemon's exchanges wait for.
//
// Illegal-server reports: a dropped server packet, with the trap/log on, is reported once per (server,
// interface) per suppress duration, by the clock the caller gives (a capture's timestamps during a replay,
// the monotonic clock for live frames): a log line and the report hook.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "kernel/sim_frame.h"
#include "kernel/sim_kernel.h"

namespace sim::kernel {

// What classification does besides deciding.
enum class Accounting {
    counted,  // counters and illegal-server reports
    preview,  // the decision only
};

struct Decision {
    FrameInfo info;
    uint32_t interface = 0;       // the ingress interface (logical port of the port or of its trunk)
    bool screened = false;        // screening is enabled on the interface (looked up for server packets only)
    bool forwarded = true;        // the frame passes
    std::optional<RuleKey> rule;  // the rule that permitted a server packet
};

// Classifies one frame arriving on the port lport (1 to 768) at time now.
Decision classify(uint32_t lport, std::span<const uint8_t> frame, std::chrono::nanoseconds now,
                  Accounting accounting = Accounting::counted);

// Counters of the data path, kept across configuration changes until clear_traffic.
struct InterfaceCounters {
    uint64_t forwarded = 0;  // DHCP server packets forwarded
    uint64_t dropped = 0;    // DHCP server packets dropped (malformed ones included)
    uint64_t malformed = 0;  // malformed ones
};
struct TrafficCounters {
    std::map<uint32_t, InterfaceCounters> interfaces;  // by ingress interface (logical port)
    std::map<RuleKey, uint64_t> rule_hits;             // server packets each rule permitted
    uint64_t reports_sent = 0;
    uint64_t reports_suppressed = 0;
};
TrafficCounters traffic_counters();
// The counters of the host's classification (replays) and those of the kernel's data path (live frames)
// added up.
TrafficCounters all_counters();
// Resets the counters and forgets when each (server, interface) was last reported.
void clear_traffic();

// One illegal-server report.
struct Report {
    uint32_t server = 0;     // first octet most significant
    uint32_t interface = 0;  // logical port of the ingress interface
    std::string ifname;
    std::array<uint8_t, 6> client{};
};
// Called for every report sent, on the thread that classified the frame (or that read the kernel's report);
// null for none.
void set_report_hook(std::function<void(const Report &)> hook);
// A report that the kernel's data path sent: its log line and the hook, as for a report of the host's.
void announce_report(uint32_t server, uint32_t interface, const std::array<uint8_t, 6> &client);

// The trunk (logical port) that port lport is a member of, 0 for none: link aggregation as the filter knows it.
void set_trunk_of(uint32_t lport, uint32_t trunk);
uint32_t trunk_of(uint32_t lport);

}  // namespace sim::kernel
