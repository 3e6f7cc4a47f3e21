#include "trace/sim_trace.h"

#include <mutex>
#include <utility>

namespace sim::trace {
namespace {

struct Trace {
    std::mutex mutex;
    std::vector<std::string> calls;
};

Trace &the_trace() {
    static Trace trace;
    return trace;
}

}  // namespace

void record(std::string call) {
    Trace &t = the_trace();
    std::lock_guard lock(t.mutex);
    t.calls.push_back(std::move(call));
}

std::vector<std::string> calls() {
    Trace &t = the_trace();
    std::lock_guard lock(t.mutex);
    return t.calls;
}

void clear() {
    Trace &t = the_trace();
    std::lock_guard lock(t.mutex);
    t.calls.clear();
}

}  // namespace sim::trace
