// The simulated user/kernel message channel: handler registration and delivery to the daemon.
#pragma once

#include <cstdint>

#include "ukcomm.h"

namespace sim::ukcomm {

// The handler registered for a message number, or null.
UKCOMM_RX_FN handler(uint32_t msg_num);
// Makes the next n registrations fail (for tests of a refused registration).
void fail_next_registrations(int n);

}  // namespace sim::ukcomm
