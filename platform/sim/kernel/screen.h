// Between the kernel filter's channel side and its data path: the filter publishes its tables for
// classification after every change it accepts (traffic.cpp).
#pragma once

#include "kernel/sim_kernel.h"

namespace sim::kernel {

// Builds the screening snapshot of tables and makes it the one classification reads from now on. From then
// on every change is published.
void publish_screen(const Tables &tables);
// The filter's tables changed (called with the filter's lock held): published when the data path is in use,
// otherwise left until the first frame, so that a boot replaying a full configuration builds no snapshot per
// rule.
void tables_changed(const Tables &tables);
// Publishes the filter's tables as they are now, taking its lock (kernel_filter.cpp).
void publish_current_tables();

}  // namespace sim::kernel
