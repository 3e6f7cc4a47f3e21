// Frames of any length and content through the kernel filter's frame inspector (sim::kernel::inspect) and its
// classification (sim::kernel::classify), on a configured filter: screening on eth1.1, eth1.2, eth2.1 and
// port-channel1 (eth1.3 is its member), not on eth1.4; rules of one server for all clients and for one client,
// rules only for a client, and fifty more servers; trap/log on.
//
// Byte 0 of the input chooses the port the frame arrives on, the rest is the frame. Invariants, checked against
// a parse of the bytes written here from the frame rules of docs/screening.md and against the filter's tables
// read here: inspect's kind, server and client are the bytes'; a frame other than a server packet passes
// untouched; on an interface without screening every frame passes; on a screened one a malformed frame is
// dropped and a server packet passes exactly when a rule of its server, for all clients or its client, holds
// the interface, the client's own rule being the one that permits it; the preview decides as the counted
// classification does, and the counters and reports move by exactly what the decision says.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "kernel/sim_frame.h"
#include "kernel/sim_traffic.h"

namespace {

using sim::kernel::FrameKind;

// The arrival ports byte 0 chooses from: screened ports, a trunk member, an unscreened port, the trunk itself,
// and numbers that are no port.
constexpr uint32_t kPorts[] = {1, 2, 3, 4, 65, 641, 0, 800};
constexpr uint32_t kTrunk = 641;   // port-channel1
constexpr uint32_t kMember = 3;    // eth1.3

struct Parse {
    FrameKind kind = FrameKind::other;
    uint32_t server = 0;
    std::array<uint8_t, 6> client{};
};

uint32_t be(std::span<const uint8_t> bytes, std::size_t at, std::size_t width) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = value << 8 | bytes[at + i];
    return value;
}

// What the frame is, by the rules of "Which frames are screened".
Parse parse(std::span<const uint8_t> frame) {
    std::size_t type_at = 12;
    for (int tags = 0;; ++tags) {
        if (frame.size() < type_at + 2)
            return {};
        const uint32_t type = be(frame, type_at, 2);
        if (type == 0x0800)
            break;
        if ((type != 0x8100 && type != 0x88A8) || tags == 2)
            return {};
        type_at += 4;
    }
    std::span<const uint8_t> ip = frame.subspan(type_at + 2);
    if (ip.size() < 20)
        return {};
    const std::size_t header = (ip[0] & 0x0F) * 4u;
    const std::size_t total = be(ip, 2, 2);
    if (ip[0] >> 4 != 4 || header < 20 || ip[9] != 17 || (be(ip, 6, 2) & 0x1FFF) != 0 || total < header)
        return {};
    if (ip.size() > total)
        ip = ip.first(total);  // Ethernet padding after the datagram
    const Parse malformed{FrameKind::malformed, be(ip, 12, 4), {}};
    if (ip.size() < header + 8)
        return malformed;
    const std::span<const uint8_t> udp = ip.subspan(header);
    if (be(udp, 0, 2) != 67)
        return {};
    const std::span<const uint8_t> bootp = udp.subspan(8);
    if (bootp.empty())
        return malformed;
    if (bootp[0] != 2)
        return {};
    if (bootp.size() < 28 + 6)
        return malformed;
    Parse server{FrameKind::server, malformed.server, {}};
    std::copy_n(bootp.begin() + 28, 6, server.client.begin());
    return server;
}

sim::kernel::Tables *filter;  // the filter's tables, read once after the configuration

bool holds(const PORTLIST_T &ports, uint32_t lport) {
    return lport >= 1 && lport <= PORTLIST_MAX_PORT && PORTLIST_chk_port_exist(&ports, lport);
}

// The rule that permits a server packet on an interface, by the filter's tables.
std::optional<sim::kernel::RuleKey> permitting(const Parse &packet, uint32_t interface) {
    std::optional<sim::kernel::RuleKey> all_clients;
    for (const auto &[key, ports] : filter->rules) {
        if (be(key.server, 0, 4) != packet.server || !holds(ports, interface))
            continue;
        if (key.mac == packet.client)
            return key;
        if (key.mac == std::array<uint8_t, 6>{})
            all_clients = key;
    }
    return all_clients;
}

std::string describe(const Parse &p) {
    char text[80];
    std::snprintf(text, sizeof(text), "kind %d server %08X client %02X:%02X:%02X:%02X:%02X:%02X", int(p.kind),
                  p.server, p.client[0], p.client[1], p.client[2], p.client[3], p.client[4], p.client[5]);
    return text;
}

uint64_t reports(const sim::kernel::TrafficCounters &c) { return c.reports_sent + c.reports_suppressed; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    harness::boot_daemon();
    fuzz::Console console(CONFIG_MODE);
    std::string printed = console.line("do platform chassis trunk member add port-channel1 eth1.3");
    for (const char *line : {"ip dhcp screening ports eth1.1-1.2,eth2.1,port-channel1",
                             "ip dhcp screening server-ip 10.0.0.1 ports eth1.1,port-channel1",
                             "ip dhcp screening server-ip 10.0.0.1 client-mac 00:11:22:33:44:55 ports eth1.2",
                             "ip dhcp screening server-ip 10.0.0.2 client-mac 00:11:22:33:44:55 ports eth1.1",
                             "ip dhcp screening server-ip 10.0.0.2 client-mac 00:11:22:33:44:66 ports eth1.4",
                             "ip dhcp screening server-ip 192.168.1.1 ports eth2.1", "ip dhcp screening trap-log"})
        printed += console.line(line);
    for (int i = 1; i <= 50; ++i)
        printed += console.line("ip dhcp screening server-ip 172.16." + std::to_string(i) + "." + std::to_string(i) +
                                " client-mac 02:00:00:00:00:" + std::to_string(10 + i) + " ports eth1.1-1.2");
    FUZZ_CHECK(printed.empty(), printed);
    fuzz::check_agreement("the configuration");
    filter = new sim::kernel::Tables(sim::kernel::tables());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::chrono::nanoseconds now{0};
    if (size == 0)
        return 0;
    now += std::chrono::seconds(7);
    const uint32_t lport = kPorts[data[0] % std::size(kPorts)];
    const std::span<const uint8_t> frame(data + 1, size - 1);

    const Parse expected = parse(frame);
    const sim::kernel::FrameInfo info = sim::kernel::inspect(frame.data(), frame.size());
    const Parse seen{info.kind, info.kind == FrameKind::other ? 0 : info.server,
                     info.kind == FrameKind::server ? info.client : std::array<uint8_t, 6>{}};
    FUZZ_CHECK(seen.kind == expected.kind && seen.server == expected.server && seen.client == expected.client,
               "inspect gives " + describe(seen) + ", the bytes " + describe(expected));

    const uint32_t interface = lport == kMember ? kTrunk : lport;
    const bool screened = expected.kind != FrameKind::other && holds(filter->enabled, interface);
    const std::optional<sim::kernel::RuleKey> rule =
        expected.kind == FrameKind::server && screened ? permitting(expected, interface) : std::nullopt;
    const bool forwarded = !screened || rule.has_value();

    const sim::kernel::TrafficCounters before = sim::kernel::traffic_counters();
    const sim::kernel::Decision preview =
        sim::kernel::classify(lport, frame, now, sim::kernel::Accounting::preview);
    const sim::kernel::Decision decision = sim::kernel::classify(lport, frame, now);
    const sim::kernel::TrafficCounters after = sim::kernel::traffic_counters();
    const std::string on = " on lport " + std::to_string(lport) + " (" + describe(expected) + ")";
    for (const sim::kernel::Decision &d : {preview, decision}) {
        FUZZ_CHECK(d.interface == interface, "interface " + std::to_string(d.interface) + on);
        FUZZ_CHECK(d.screened == screened, "screened " + std::to_string(d.screened) + on);
        FUZZ_CHECK(d.forwarded == forwarded, std::string(d.forwarded ? "forwarded" : "dropped") + on);
        FUZZ_CHECK(d.rule == rule, "permitted by another rule" + on);
    }

    // Counters: only a server or malformed packet on a screened interface counts, once.
    const sim::kernel::InterfaceCounters none{};
    auto counted = [&](const sim::kernel::TrafficCounters &c) {
        auto it = c.interfaces.find(interface);
        return it == c.interfaces.end() ? none : it->second;
    };
    const sim::kernel::InterfaceCounters was = counted(before), is = counted(after);
    FUZZ_CHECK(is.forwarded == was.forwarded + (screened && forwarded) &&
                   is.dropped == was.dropped + (screened && !forwarded) &&
                   is.malformed == was.malformed + (screened && expected.kind == FrameKind::malformed),
               "interface counters" + on);
    if (rule)
        FUZZ_CHECK(after.rule_hits.at(*rule) == (before.rule_hits.contains(*rule) ? before.rule_hits.at(*rule) : 0) + 1,
                   "rule hits" + on);
    const bool reported = screened && !forwarded && expected.kind == FrameKind::server && filter->trap != 0;
    FUZZ_CHECK(reports(after) == reports(before) + reported, "reports" + on);
    return 0;
}
