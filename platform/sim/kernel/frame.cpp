// The frame inspector of the kernel filter's data path: one pass over the Ethernet, IPv4, UDP and BOOTP
// headers, reading every multi-byte field byte by byte so that the result is the same on either byte order.
// Each step first checks that the bytes it reads lie within the frame.
#include "kernel/sim_frame.h"

#include <algorithm>

namespace sim::kernel {
namespace {

constexpr std::size_t kEthernetHeader = 14;  // destination, source, EtherType
constexpr std::size_t kTagLength = 4;        // tag protocol identifier, tag control information
constexpr int kMaxTags = 2;
constexpr uint16_t kIpv4 = 0x0800;
constexpr uint16_t kCustomerTag = 0x8100;
constexpr uint16_t kServiceTag = 0x88A8;

constexpr std::size_t kIpHeader = 20;  // without options
constexpr uint8_t kUdp = 17;
constexpr uint16_t kFragmentOffsetMask = 0x1FFF;

constexpr std::size_t kUdpHeader = 8;
constexpr uint16_t kServerPort = 67;

constexpr uint8_t kBootReply = 2;
constexpr std::size_t kChaddrOffset = 28;  // in the BOOTP message
constexpr std::size_t kClientLength = std::tuple_size_v<decltype(FrameInfo::client)>;

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t be32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

FrameInfo inspect(const uint8_t *frame, std::size_t length) noexcept {
    // Ethernet II with up to two VLAN tags; each tag puts the next EtherType four bytes further on.
    if (length < kEthernetHeader)
        return {};
    std::size_t ip_start = kEthernetHeader;
    uint16_t type = be16(frame + ip_start - 2);
    for (int tags = 0; tags < kMaxTags && (type == kCustomerTag || type == kServiceTag); ++tags) {
        if (length - ip_start < kTagLength)
            return {};
        ip_start += kTagLength;
        type = be16(frame + ip_start - 2);
    }
    // A third tag lands here as an EtherType that is not IPv4.
    if (type != kIpv4 || length - ip_start < kIpHeader)
        return {};

    // IPv4: only an unfragmented datagram or a first fragment of UDP can carry the UDP ports.
    const uint8_t *ip = frame + ip_start;
    const std::size_t header = std::size_t{ip[0] & 0x0Fu} * 4;
    const std::size_t total = be16(ip + 2);
    if (ip[0] >> 4 != 4 || header < kIpHeader || ip[9] != kUdp || (be16(ip + 6) & kFragmentOffsetMask) != 0 ||
        total < header)
        return {};
    // The datagram ends at its total length (Ethernet padding follows it) or where the frame ends, if sooner.
    const std::size_t datagram = std::min(length - ip_start, total);

    // From here on a frame cut short may hide a server packet: it is malformed, named by its IPv4 source.
    FrameInfo info{FrameKind::malformed, be32(ip + 12), {}};
    if (datagram < header + kUdpHeader)
        return info;
    const uint8_t *udp = ip + header;
    if (be16(udp) != kServerPort)
        return {};

    const std::size_t bootp_length = datagram - header - kUdpHeader;
    const uint8_t *bootp = udp + kUdpHeader;
    if (bootp_length == 0)
        return info;
    if (bootp[0] != kBootReply)
        return {};
    if (bootp_length < kChaddrOffset + kClientLength)
        return info;
    info.kind = FrameKind::server;
    std::copy_n(bootp + kChaddrOffset, kClientLength, info.client.begin());
    return info;
}

}  // namespace sim::kernel
