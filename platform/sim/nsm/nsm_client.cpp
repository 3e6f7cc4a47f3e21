#include <string>

#include "chassis/sim_chassis.h"
#include "nsm/sim_nsm.h"
#include "trace/sim_trace.h"

struct nsm_client {
    std::vector<int> services;
};

namespace sim::nsm {
namespace {

struct State {
    nsm_client client;
    nsm_globals globals{&client, Chassis::instance().vr_table()};
    bool started = false;
    Registration registration;
    int start_result = 0;
};

State &state() {
    static State s;
    return s;
}

}  // namespace

const Registration *registration() { return state().started ? &state().registration : nullptr; }

void set_start_result(int result) { state().start_result = result; }

std::vector<int> services() { return state().client.services; }

nsm_globals *globals() { return &state().globals; }

bool bring_up() {
    State &s = state();
    if (!s.started || s.registration.start == nullptr)
        return false;
    trace::record("nsm client up");
    s.registration.start(&s.globals);
    return true;
}

bool deliver(const std::string &module, uint32_t type, void *msg) {
    State &s = state();
    if (!s.started)
        return false;
    for (const NSM_INC_MODULE_T &entry : s.registration.modules) {
        if (entry.module == nullptr || module != entry.module)
            continue;
        for (uint32_t i = 0; i < entry.count; ++i) {
            if (entry.handlers[i].type == type && entry.handlers[i].handler != nullptr) {
                entry.handlers[i].handler(msg, nullptr);
                return true;
            }
        }
    }
    return false;
}

}  // namespace sim::nsm

extern "C" {

int NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client(uint32_t arg, uint32_t *proto_info,
                                                           NSM_INC_MODULE_T *modules, int module_count,
                                                           NSM_CLIENT_START_FN start) {
    auto &s = sim::nsm::state();
    sim::trace::record("nsm client start");
    if (s.start_result != 0)
        return s.start_result;
    s.started = true;
    s.registration.arg = arg;
    s.registration.proto_id = proto_info == nullptr ? 0 : *proto_info;
    s.registration.modules.assign(modules, modules + (module_count > 0 ? module_count : 0));
    s.registration.start = start;
    return 0;
}

int nsm_client_set_service(struct nsm_client *nc, int service) {
    if (nc == nullptr)
        return -1;
    nc->services.push_back(service);
    sim::trace::record("nsm_client_set_service " + std::to_string(service));
    return 0;
}

int if_add_hook(struct if_table *ift, int type, NSM_IF_HOOK_FN hook) {
    if (ift == nullptr || hook == nullptr)
        return -1;
    if (type == NSM_IF_HOOK_ADD)
        ift->add_hooks.push_back(hook);
    else if (type == NSM_IF_HOOK_DELETE)
        ift->delete_hooks.push_back(hook);
    else
        return -1;
    sim::trace::record("if_add_hook " + std::to_string(type));
    return 0;
}

}  // extern "C"
