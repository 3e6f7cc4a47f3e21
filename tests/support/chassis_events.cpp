#include "support/chassis_events.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "if_table.h"
#include "nsm_client.h"
#include "stacking.h"

namespace harness {
namespace {

std::vector<std::string> g_events;
sim::Chassis *g_chassis = nullptr;

int on_add(interface *ifp) {
    g_events.push_back(std::string("add ") + ifp->name + " " + std::to_string(ifp->state));
    return 0;
}

int on_delete(interface *ifp) {
    g_events.push_back(std::string("delete ") + ifp->name + " " + std::to_string(ifp->state));
    return 0;
}

int on_lacp(void *msg, void *) {
    const auto *m = static_cast<const NSM_LACP_AGG_PORT_MSG_T *>(msg);
    const interface *port = g_chassis->vr_table()->find(m->member_ifindex);
    g_events.push_back("lacp " + std::string(m->agg_name) + " " + std::to_string(m->info) + " " +
                       sim::ids::name_of(m->member_ifindex).value_or("?") + " " + std::to_string(m->change) +
                       ", state " + (port == nullptr ? "-" : std::to_string(port->state)));
    return 0;
}

int on_insert(uint32_t arg) {
    g_events.push_back("insertion " + std::to_string(arg));
    return 0;
}

int on_remove(int32_t phy_slot) {
    g_events.push_back("removal " + std::to_string(phy_slot));
    return 0;
}

int on_master(uint32_t arg) {
    g_events.push_back("master " + std::to_string(arg));
    return 0;
}

NSM_NOTIFY_HDLR_T g_handlers[] = {{NSM_LACP_NOTIFY_AGG_PORT_CONFIG, on_lacp}};
NSM_INC_MODULE_T g_modules[] = {{"LACP", 0, g_handlers, 1}};

}  // namespace

void record_chassis_events(sim::Chassis &chassis) {
    if_table *vr = chassis.vr_table();
    if (std::find(vr->add_hooks.begin(), vr->add_hooks.end(), on_add) == vr->add_hooks.end()) {
        if_add_hook(vr, NSM_IF_HOOK_ADD, on_add);
        if_add_hook(vr, NSM_IF_HOOK_DELETE, on_delete);
    }
    g_chassis = &chassis;
    uint32_t proto = 0;
    NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client(0, &proto, g_modules, 1, nullptr);
    ST_APP_REG_T reg{0, 0, on_insert, on_remove, on_master};
    ST_APP_Init(&reg);
    g_events.clear();
}

std::vector<std::string> chassis_events() { return std::exchange(g_events, {}); }

}  // namespace harness
