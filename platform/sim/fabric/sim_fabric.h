// The switching fabric of the simulated switch: ports backed by Linux interfaces, joined by a small learning
// switch that screens every frame through the kernel filter.
//
// An attached port sends and receives real frames on a Linux interface (in the switch process's network
// namespace) through an AF_PACKET socket, in promiscuous mode; VLAN tags that the kernel took off a received
// frame are put back. Every frame that enters a port goes through the kernel filter's classification for that
// port (its trunk when it is a member). A frame that passes is sent to the port where its destination MAC was
// last seen, or flooded to every other attached port when that is not known (and for group addresses); a
// frame the filter drops goes nowhere.
//
// The fabric runs on a thread of its own. It reads only the kernel filter's snapshot and its own tables,
// never the daemon's state, so the daemon's exchanges with the filter keep their order and their bound. An
// interface that vanishes ends its attachment (a log line says so).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim::fabric {

struct PortStats {
    std::string port;       // ethS.P
    std::string host;       // the Linux interface
    uint64_t received = 0;  // frames that entered the port
    uint64_t forwarded = 0; // of those, passed by the filter
    uint64_t dropped = 0;   // of those, dropped by the filter
    uint64_t sent = 0;      // frames sent out of the port
};

// Attaches the port (logical port lport, named port) to the Linux interface host. The reason when it cannot
// (no such interface, no permission, either already attached), or the empty text.
std::string attach(uint32_t lport, const std::string &port, const std::string &host);
// Ends the attachment of the port; the reason when it has none, or the empty text.
std::string detach(uint32_t lport);
// The attachments in port order.
std::vector<PortStats> ports();

}  // namespace sim::fabric
