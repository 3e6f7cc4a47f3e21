// The audit of the simulated kernel filter: its tables (what it accepted; with the kernel's data path loaded,
// what the kernel's maps hold, read back from them) against the daemon's configuration as the daemon hands it
// out through the SNMP bridge's table walk, the view the switch's agent has.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sim::traffic {

struct Audit {
    std::string error;                      // why the daemon's configuration could not be read, or empty
    std::size_t rules = 0;                  // the daemon's permit rules
    std::size_t ports = 0;                  // the daemon's ports with screening enabled
    std::vector<std::string> differences;  // one line each, without newline, in the order of the tables
};

// Waits until the kernel filter has handled every message it received, then reads both sides and compares
// them: the permit rules and their ports, the enabled ports, the trap/log state and the suppress duration.
Audit audit();

}  // namespace sim::traffic
