// What one Ethernet frame is to the screening filter: the classifier's parse (datapath/classifier.h, which
// says which frames are server packets, malformed or other), for the host's C++ callers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "datapath/classifier.h"

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

// The classifier's parse in this form.
FrameInfo frame_info_of(const dp_info &parsed) noexcept;
// Parses a frame of length bytes. Never reads beyond them.
FrameInfo inspect(const uint8_t *frame, std::size_t length) noexcept;

}  // namespace sim::kernel
