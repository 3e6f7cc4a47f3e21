// What one Ethernet frame is to the screening filter: the parse of the headers that DHCP server screening
// looks at, from the bytes of the frame only.
//
// A DHCP server packet is an IPv4 UDP datagram from source port 67 whose BOOTP op is 2 (BOOTREPLY), in an
// Ethernet II frame with up to two VLAN tags (0x8100 or 0x88A8). Every other frame is `other` and passes
// untouched. A frame that may be a server packet but is cut short before the filter can tell (the UDP header,
// the BOOTP op or the client hardware address missing) is `malformed`: the filter fails closed on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim::kernel {

enum class FrameKind {
    other,      // not a DHCP server packet
    server,     // a DHCP server packet: server and client are known
    malformed,  // possibly a DHCP server packet, but cut short or broken where the filter must look
};

struct FrameInfo {
    FrameKind kind = FrameKind::other;
    uint32_t server = 0;              // IPv4 source address, first octet most significant (server, malformed)
    std::array<uint8_t, 6> client{};  // BOOTP chaddr, the first six octets (server only)
};

// Parses a frame of length bytes. Never reads beyond them.
FrameInfo inspect(const uint8_t *frame, std::size_t length) noexcept;

}  // namespace sim::kernel
