// Between the kernel filter's channel side and its data path: the filter publishes its tables for
// classification after every change it accepts (traffic.cpp).
#pragma once

#include "kernel/sim_kernel.h"

namespace sim::kernel {

// Builds the screening snapshot of tables and makes it the one classification reads from now on.
void publish_screen(const Tables &tables);

}  // namespace sim::kernel
