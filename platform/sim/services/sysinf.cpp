#include <mutex>

#include "services/sim_services.h"
#include "sysinf.h"
#include "trace/sim_trace.h"

namespace sim::sysinf {
namespace {

std::mutex g_mutex;
std::vector<ProtoStatus> g_announced;

}  // namespace

std::vector<ProtoStatus> announced() {
    std::lock_guard lock(g_mutex);
    return g_announced;
}

}  // namespace sim::sysinf

extern "C" int SYSINF_LIB_Proto_Status_Set(int proto, int status, const char *text) {
    std::lock_guard lock(sim::sysinf::g_mutex);
    sim::sysinf::g_announced.push_back({proto, status, text == nullptr ? "" : text});
    sim::trace::record("SYSINF_LIB_Proto_Status_Set " + std::to_string(proto) + " " + std::to_string(status));
    return 0;
}
