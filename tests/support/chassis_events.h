// A recorder of what the simulated chassis delivers while its topology changes: the hooks of a router's
// interface table, the link-aggregation notifications and the stacking callbacks, as lines in order.
#pragma once

#include <string>
#include <vector>

#include "chassis/sim_chassis.h"

namespace harness {

// Starts recording the events of a chassis, and forgets those recorded so far. It adds a recording add and
// delete hook to the chassis's router table unless they are there, and registers (replacing any registration
// of the process) a handler of the notification "LACP" 0x402 and the three stacking callbacks. The lines:
//   "add NAME STATE", "delete NAME STATE"            a hook ran; STATE is the record's state byte then
//   "lacp AGG INFO MEMBER CHANGE, state STATE"        a notification; MEMBER by name, STATE its state byte
//   "removal N", "insertion N", "master N"           a stacking callback ran with N
void record_chassis_events(sim::Chassis &chassis);

// The lines recorded since the last call (or the start), oldest first; forgets them.
std::vector<std::string> chassis_events();

}  // namespace harness
