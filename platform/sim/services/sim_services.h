// Small simulated platform services: the process manager's ready flag, the system information service
// and the stacking service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stacking.h"

namespace sim::procm {

// The system-ready flag that PROCM_Get_System_Ready reports.
void set_ready(int ready);
int ready();

}  // namespace sim::procm

namespace sim::sysinf {

struct ProtoStatus {
    int proto;
    int status;
    std::string text;
};

// Every protocol status announced, in order.
std::vector<ProtoStatus> announced();

}  // namespace sim::sysinf

namespace sim::stacking {

// The callbacks a module registered with ST_APP_Init, once it did.
std::optional<ST_APP_REG_T> registration();

// Deliver a stacking event to the registered callbacks; false when nothing is registered.
bool card_inserted(uint32_t arg);
bool card_removed(int32_t phy_slot);
bool master_changed(uint32_t arg);

// Overrides the user-view slot that BSPMGT_CMUTL_Pslotid_to_Uslotid returns (for tests of a platform
// that answers outside 1 to 10); nothing restores the numbering rule (physical + 1).
void override_user_slot(std::optional<int> user_slot);

}  // namespace sim::stacking
