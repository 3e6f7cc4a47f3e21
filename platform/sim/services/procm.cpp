#include <atomic>

#include "procm.h"
#include "services/sim_services.h"

namespace sim::procm {
namespace {

std::atomic<int> g_ready{0};

}  // namespace

void set_ready(int ready) { g_ready.store(ready); }

int ready() { return g_ready.load(); }

}  // namespace sim::procm

extern "C" int PROCM_Get_System_Ready(int *ready) {
    if (ready == nullptr)
        return -1;
    *ready = sim::procm::ready();
    return 0;
}
