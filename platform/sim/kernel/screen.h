// Between the kernel filter's channel side and the host's classification: the filter marks its tables changed
// after every change it accepts, and classification builds its snapshot of them anew before the next frame
// (traffic.cpp).
#pragma once

#include "kernel/sim_kernel.h"

namespace sim::kernel {

// Builds the screening snapshot of tables and makes it the one classification reads until the filter's
// tables change again.
void publish_screen(const Tables &tables);
// The filter's tables changed (called with the filter's lock held): the snapshot is built anew before the
// next frame is classified, so that a burst of changes (a boot replaying a full configuration) builds no
// snapshot per change.
void tables_changed();
// Publishes the filter's tables as they are now, taking its lock (kernel_filter.cpp).
void publish_current_tables();

}  // namespace sim::kernel
