// The simulated user/kernel message channel: a module's messages go to the simulated kernel filter, and
// the kernel filter's messages are delivered to the handler registered for their number, on the kernel
// filter's thread (the channel's receive context).
#pragma once

#include <cstdint>

#include "ukcomm.h"

namespace sim::ukcomm {

// The handler registered for a message number, or null.
UKCOMM_RX_FN handler(uint32_t msg_num);
// Delivers a message from the kernel side to its handler; false when none is registered.
bool deliver(uint32_t msg_num, void *body, uint32_t length);
// Makes the next n registrations fail (for tests of a refused registration).
void fail_next_registrations(int n);

}  // namespace sim::ukcomm
