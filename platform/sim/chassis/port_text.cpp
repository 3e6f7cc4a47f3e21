// The range text of a port list: the writer whose output the interface-range parser reads back.
#include <optional>
#include <string>
#include <string_view>

#include "chassis/sim_chassis.h"
#include "if_table.h"
#include "portlist.h"

namespace sim {
namespace {

constexpr std::string_view kEthPrefix = "eth";
constexpr std::string_view kTrunkPrefix = "port-channel";

// The short form of a port name: without "eth" or "port-channel".
std::string_view short_name(std::string_view name) {
    if (name.starts_with(kTrunkPrefix))
        return name.substr(kTrunkPrefix.size());
    if (name.starts_with(kEthPrefix))
        return name.substr(kEthPrefix.size());
    return name;
}

}  // namespace

std::string port_text(const PORTLIST_T &ports) {
    std::string text;
    std::string run_end;  // the last name of the run being written, once the run has a second name
    uint32_t next_ifindex = 0;
    auto close_run = [&] {
        if (!run_end.empty()) {
            text += '-';
            text += short_name(run_end);
        }
        run_end.clear();
    };
    for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport) {
        if (!PORTLIST_chk_port_exist(&ports, lport))
            continue;
        uint32_t ifindex = if_st_lport_to_ifindex(lport);
        std::optional<std::string> name = ids::name_of(ifindex);
        if (!name)
            continue;
        if (ifindex != next_ifindex) {
            close_run();
            if (!text.empty())
                text += ",";
            text += *name;
        } else {
            run_end = *name;
        }
        next_ifindex = ifindex + 1;
    }
    close_run();
    return text;
}

}  // namespace sim
