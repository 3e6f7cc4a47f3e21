// The SNMP agent of the simulated switch: an AgentX subagent (net-snmp's agent library) serving DHCPFTR-MIB
// (mibs/DHCPFTR-MIB.txt) on the main loop, next to the console.
//
// Every request becomes bridge commands run through the shell in table mode at level 20 (sim::snmp::run),
// as the switch's own agent does it; the agent never calls the daemon. Reads: "show ip dhcp screening snmp"
// for the scalars, "show ip dhcp screening snmp A.B.C.D MAC" and "... snmp ports IFINDEX" for the rows (a
// GET asks for the row of its index, a GETNEXT for the row after it: one search, never a scan). Changes:
// the bridge's rule set and delete commands for the permit table, the operator's port and trap-log commands
// for the port table and the scalars. A change is read back after its command; one that did not take answers
// with an error, and the changes already made by the same request are undone. The read-only counter tables are
// the kernel filter's data-path counters, the platform's own, read with sim::kernel::all_counters() once per
// request.
//
// The subagent pings its master every second and connects again after the master went away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loop/sim_loop.h"

namespace sim::snmp {

// Whether the agent lets a permit rule have this server (the address as a number, the first octet most
// significant): exactly the addresses the operator's "ip dhcp screening server-ip" takes. It refuses 0.x.x.x,
// loopback 127.x.x.x, link-local 169.254.x.x, 224.0.0.0 and above, every address ending in 255, the network
// address of a class A, B or C network, 191.255.x.x and 223.255.255.x. A rule stored with another server would
// be saved by "write memory" and refused when the switch boots from the saved configuration.
bool permit_server_allowed(uint32_t address);

class Agent : public loop::Source {
public:
    // Starts the subagent towards the AgentX socket of a master (a unix socket path). It connects at once if
    // the master is there, else as soon as it is. Null, with the reason in error, when this build has no
    // SNMP agent or net-snmp cannot be set up.
    static std::unique_ptr<Agent> start(const std::string &socket, std::string &error);
    ~Agent() override;
    Agent(const Agent &) = delete;
    Agent &operator=(const Agent &) = delete;

    void prepare(loop::Wait &wait) override;
    void dispatch(const std::vector<int> &ready) override;

private:
    Agent() = default;
};

}  // namespace sim::snmp
