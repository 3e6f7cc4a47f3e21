// The simulated NSM client library: what a module registered, bringing its client up, and delivering
// notifications of other modules to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nsm_client.h"

namespace sim::nsm {

// What NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client was given.
struct Registration {
    uint32_t arg = 0;
    uint32_t proto_id = 0;
    std::vector<NSM_INC_MODULE_T> modules;
    NSM_CLIENT_START_FN start = nullptr;
};

// The registration, when a module has started its client.
const Registration *registration();
// The result the next start call returns (0 accepts it); for tests of a refused start.
void set_start_result(int result);
// Services subscribed, in order.
std::vector<int> services();

// Brings the client up: calls the module's start-up callback with the NSM globals. False when no client
// was started.
bool bring_up();
// The NSM globals handed to the module.
nsm_globals *globals();

// Delivers a notification of `module` with message type `type` to the handler the module registered for
// it. False when the module registered none.
bool deliver(const std::string &module, uint32_t type, void *msg);

}  // namespace sim::nsm
