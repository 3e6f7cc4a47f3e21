#include "services/sim_services.h"
#include "stacking.h"
#include "trace/sim_trace.h"

namespace sim::stacking {
namespace {

std::optional<ST_APP_REG_T> g_registration;
std::optional<int> g_user_slot_override;

}  // namespace

std::optional<ST_APP_REG_T> registration() { return g_registration; }

bool card_inserted(uint32_t arg) {
    if (!g_registration || g_registration->insert_cb == nullptr)
        return false;
    g_registration->insert_cb(arg);
    return true;
}

bool card_removed(int32_t phy_slot) {
    if (!g_registration || g_registration->remove_cb == nullptr)
        return false;
    g_registration->remove_cb(phy_slot);
    return true;
}

bool master_changed(uint32_t arg) {
    if (!g_registration || g_registration->master_cb == nullptr)
        return false;
    g_registration->master_cb(arg);
    return true;
}

void override_user_slot(std::optional<int> user_slot) { g_user_slot_override = user_slot; }

}  // namespace sim::stacking

extern "C" {

int ST_APP_Init(ST_APP_REG_T *reg) {
    if (reg == nullptr)
        return -1;
    sim::stacking::g_registration = *reg;
    sim::trace::record("ST_APP_Init");
    return 0;
}

int BSPMGT_CMUTL_Pslotid_to_Uslotid(int phy_slot) {
    if (sim::stacking::g_user_slot_override)
        return *sim::stacking::g_user_slot_override;
    return phy_slot + 1;
}

}  // extern "C"
