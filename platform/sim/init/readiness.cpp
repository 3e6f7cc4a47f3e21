// The switch's state as the service manager sees it: systemd's notification protocol through libsystemd's
// sd_notify. A switch not started by systemd (no NOTIFY_SOCKET in its environment) sends nothing, and a build
// without libsystemd (the PowerPC cross build) has nothing to send.
#include "init/sim_framework.h"

#if SIM_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace sim::framework {
namespace {

// Sends state (a line such as "READY=1") to the service manager; nothing happens when there is none.
void notify(const char *state) {
#if SIM_HAVE_SYSTEMD
    sd_notify(0, state);
#else
    (void)state;
#endif
}

}  // namespace

void notify_ready() {
    notify("READY=1\nSTATUS=Screening");
}

void notify_stopping() {
    notify("STOPPING=1\nSTATUS=Stopping");
}

}  // namespace sim::framework
