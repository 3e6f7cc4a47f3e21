#include <map>
#include <mutex>

#include "kernel/sim_kernel.h"
#include "trace/sim_trace.h"
#include "ukcomm/sim_ukcomm.h"

namespace sim::ukcomm {
namespace {

std::mutex g_mutex;
std::map<uint32_t, UKCOMM_RX_FN> g_handlers;
int g_failing_registrations = 0;

}  // namespace

UKCOMM_RX_FN handler(uint32_t msg_num) {
    std::lock_guard lock(g_mutex);
    auto it = g_handlers.find(msg_num);
    return it == g_handlers.end() ? nullptr : it->second;
}

bool deliver(uint32_t msg_num, void *body, uint32_t length) {
    UKCOMM_RX_FN rx = handler(msg_num);
    if (rx == nullptr)
        return false;
    rx(msg_num, body, length);
    return true;
}

void fail_next_registrations(int n) {
    std::lock_guard lock(g_mutex);
    g_failing_registrations = n;
}

}  // namespace sim::ukcomm

extern "C" int UKCOMM_U_Reg(uint32_t msg_num, UKCOMM_RX_FN handler) {
    std::lock_guard lock(sim::ukcomm::g_mutex);
    sim::trace::record("UKCOMM_U_Reg " + std::to_string(msg_num));
    if (sim::ukcomm::g_failing_registrations > 0) {
        --sim::ukcomm::g_failing_registrations;
        return -1;
    }
    if (handler == nullptr)
        return -1;
    sim::ukcomm::g_handlers[msg_num] = handler;
    return 0;
}

extern "C" int UKCOMM_U_Send(uint32_t msg_num, void *body, uint32_t length) {
    if (body == nullptr)
        return -1;
    return sim::kernel::receive(msg_num, body, length) ? 0 : -1;
}
