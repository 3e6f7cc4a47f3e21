// How the "platform ..." commands write addresses, rules, ports and the trap/log state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"
#include "if_table.h"
#include "kernel/sim_kernel.h"

namespace sim::platform_commands {

// A MAC address in upper-case hex pairs joined by ":".
inline std::string mac_text(const std::array<uint8_t, 6> &mac) {
    return format("%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

// A rule's client: its MAC, or "all clients" for the all-zero MAC (as "platform kernel show" has it).
inline std::string client_text(const std::array<uint8_t, 6> &mac) {
    return mac == std::array<uint8_t, 6>{} ? "all clients" : mac_text(mac);
}

// A server address of the data path (first octet most significant), dotted.
inline std::string server_text(uint32_t server) {
    return format("%u.%u.%u.%u", server >> 24, server >> 16 & 0xFF, server >> 8 & 0xFF, server & 0xFF);
}

// A server address of a rule key (network order), dotted.
inline std::string server_text(const std::array<uint8_t, 4> &server) {
    return format("%u.%u.%u.%u", server[0], server[1], server[2], server[3]);
}

// A rule key as the configuration names it: the server, then the client MAC unless it is all zero.
inline std::string rule_text(const kernel::RuleKey &key) {
    return key.mac == std::array<uint8_t, 6>{} ? server_text(key.server)
                                               : server_text(key.server) + " " + mac_text(key.mac);
}

// The trap/log state as the kernel filter holds it: "off" (0), "on" (1), or the number.
inline std::string trap_text(uint8_t trap) {
    return trap == 0 ? "off" : trap == 1 ? "on" : std::to_string(trap);
}

// The range text of a port list, or "none" when no port of it has a name.
inline std::string ports_text(const PORTLIST_T &ports) {
    std::string text = port_text(ports);
    return text.empty() ? "none" : text;
}

// The name of a port or trunk by its logical port number, or "lport N" when it has none.
inline std::string interface_name(uint32_t lport) {
    char name[IF_NAME_BUF] = "";
    if (if_utl_ifindex_to_ifname(if_st_lport_to_ifindex(lport), name) != 0)
        return "lport " + std::to_string(lport);
    return name;
}

}  // namespace sim::platform_commands
