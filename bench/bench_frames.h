// Frames the data-path benchmarks classify.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

// An Ethernet frame of a BOOTP message: op from UDP port sport to dport, IPv4 source server, chaddr client.
inline std::vector<uint8_t> bootp_frame(uint8_t op, uint16_t sport, uint16_t dport, uint32_t server,
                                        uint8_t client_last) {
    std::vector<uint8_t> f(14 + 20 + 8 + 240, 0);
    f[12] = 0x08;  // IPv4
    uint8_t *ip = &f[14];
    ip[0] = 0x45;
    const uint16_t total = 20 + 8 + 240;
    ip[2] = total >> 8, ip[3] = total & 0xFF;
    ip[8] = 64, ip[9] = 17;
    ip[12] = server >> 24, ip[13] = (server >> 16) & 0xFF, ip[14] = (server >> 8) & 0xFF, ip[15] = server & 0xFF;
    uint8_t *udp = ip + 20;
    udp[0] = sport >> 8, udp[1] = sport & 0xFF, udp[2] = dport >> 8, udp[3] = dport & 0xFF;
    uint8_t *bootp = udp + 8;
    bootp[0] = op, bootp[1] = 1, bootp[2] = 6;
    bootp[28 + 5] = client_last;
    return f;
}

}  // namespace bench
