// The frame inspector on hand-built frames. Every frame is copied into a heap block of exactly its length,
// so that the AddressSanitizer build catches a read past the end.
#include "kernel/sim_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using sim::kernel::FrameInfo;
using sim::kernel::FrameKind;
using sim::kernel::inspect;

constexpr uint32_t kServer = 0xC0000201;  // 192.0.2.1
constexpr std::array<uint8_t, 6> kClient{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

// The fields a case changes; the defaults make an untagged BOOTREPLY from 192.0.2.1, port 67.
struct Shape {
    std::vector<uint16_t> tags{};  // tag protocol identifiers, outermost first
    uint16_t ether_type = 0x0800;
    uint8_t version = 4, ihl = 5, protocol = 17;
    uint16_t fragment = 0;  // flags and fragment offset
    int total = -1;         // IPv4 total length; -1 for the datagram's own
    uint16_t source_port = 67;
    uint8_t op = 2;
    std::size_t bootp = 236;     // bytes of the BOOTP message
    std::size_t padding = 0;     // bytes after the datagram, 0xEE each
    std::size_t cut = SIZE_MAX;  // the frame's length, if shorter
};

std::vector<uint8_t> build(const Shape &s) {
    std::vector<uint8_t> f(12, 0xAA);  // MAC addresses
    auto put16 = [&f](uint16_t v) { f.insert(f.end(), {uint8_t(v >> 8), uint8_t(v)}); };
    for (uint16_t tpid : s.tags)
        put16(tpid), put16(0x0064);
    put16(s.ether_type);
    const std::size_t ip = f.size(), udp_bootp = 8 + s.bootp;
    const int total = s.total >= 0 ? s.total : int(s.ihl * 4 + udp_bootp);
    f.push_back(uint8_t(s.version << 4 | s.ihl));
    f.push_back(0);
    put16(uint16_t(total)), put16(0x1234), put16(s.fragment);
    f.insert(f.end(), {64, s.protocol, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7});
    f.resize(ip + s.ihl * 4u, 0x01);  // IHL words: options of no-operation, or a header cut short
    put16(s.source_port), put16(68), put16(uint16_t(udp_bootp)), put16(0);
    f.resize(f.size() + s.bootp, 0x77);
    if (s.bootp > 0)
        f[f.size() - s.bootp] = s.op;
    if (s.bootp > 28)
        std::copy_n(kClient.begin(), std::min<std::size_t>(6, s.bootp - 28), f.end() - s.bootp + 28);
    f.resize(std::min(f.size() + s.padding, s.cut), 0xEE);
    return f;
}

FrameInfo inspect_exact(const std::vector<uint8_t> &bytes) {
    auto block = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block.get());
    return inspect(block.get(), bytes.size());
}

void expect_kind(const FrameInfo &info, FrameKind kind) {
    EXPECT_EQ(info.kind, kind);
    EXPECT_EQ(info.server, kind == FrameKind::other ? 0 : kServer);
    EXPECT_EQ(info.client, kind == FrameKind::server ? kClient : decltype(kClient){});
}

TEST(Frame, KindServerAndClientOfEachFrame) {
    using enum FrameKind;
    const struct { const char *name; Shape shape; FrameKind kind; } cases[] = {
        {"untagged reply", {}, server},
        {"one tag", {.tags = {0x8100}}, server},
        {"two tags", {.tags = {0x88A8, 0x8100}}, server},
        {"three tags", {.tags = {0x88A8, 0x8100, 0x8100}}, other},
        {"ARP", {.ether_type = 0x0806}, other},
        {"IPv6 EtherType", {.ether_type = 0x86DD}, other},
        {"IP version 6", {.version = 6}, other},
        {"TCP", {.protocol = 6}, other},
        {"from port 68", {.source_port = 68}, other},
        {"relay's BOOTREQUEST", {.op = 1}, other},
        {"op 3", {.op = 3}, other},
        {"one option word", {.ihl = 6}, server},
        {"longest header", {.tags = {0x8100}, .ihl = 15}, server},
        {"first fragment, whole BOOTP header", {.fragment = 0x2000, .bootp = 40}, server},
        {"don't fragment", {.fragment = 0x4000}, server},
        {"first fragment, 4 bytes of UDP", {.fragment = 0x2000, .total = 24}, malformed},
        {"4 bytes of UDP from port 68", {.total = 24, .source_port = 68}, malformed},
        {"non-first fragment", {.fragment = 0x2000 | 185}, other},
        {"last fragment", {.fragment = 185}, other},
        {"padding after short BOOTP", {.bootp = 20, .padding = 40}, malformed},
        {"padding after UDP header", {.bootp = 0, .padding = 40}, malformed},
        {"padding after chaddr", {.bootp = 34, .padding = 10}, server},
        {"IHL 4", {.ihl = 4}, other},
        {"total length 19", {.total = 19}, other},
        {"total length in options", {.ihl = 6, .total = 22}, other},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_kind(inspect_exact(build(c.shape)), c.kind);
    }
}

// Every prefix of a server frame, untagged and with two tags and IP options: other until the IP header is whole,
// malformed until chaddr is, then server.
TEST(Frame, EveryPrefixOfAServerFrame) {
    const struct { Shape shape; std::size_t ip_start, bootp_start; } frames[] = {
        {{}, 14, 42},
        {{.tags = {0x88A8, 0x8100}, .ihl = 7}, 22, 58},
    };
    for (const auto &frame : frames) {
        const std::vector<uint8_t> bytes = build(frame.shape);
        for (std::size_t n = 0; n <= bytes.size(); ++n) {
            SCOPED_TRACE(n);
            const FrameKind kind = n < frame.ip_start + 20 ? FrameKind::other
                                   : n < frame.bootp_start + 34 ? FrameKind::malformed
                                                                 : FrameKind::server;
            expect_kind(inspect_exact({bytes.begin(), bytes.begin() + std::ptrdiff_t(n)}), kind);
        }
    }
}

}  // namespace
