// Call trace of the simulated platform: the platform calls a module made, in order, for tests that check
// the order of registrations and messages.
#pragma once

#include <string>
#include <vector>

namespace sim::trace {

// Appends one call, e.g. "nsm_client_set_service 38".
void record(std::string call);
// Every call recorded since the last clear, oldest first.
std::vector<std::string> calls();
void clear();

}  // namespace sim::trace
