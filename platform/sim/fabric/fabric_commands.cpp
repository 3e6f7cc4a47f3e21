// The "platform port" commands (fabric_commands.h). A refused change prints its reason ("% ...") and the
// handler returns 1, changing nothing.
#include "fabric/fabric_commands.h"

#include <string>

#include "chassis/sim_chassis.h"
#include "fabric/sim_fabric.h"
#include "format/sim_format.h"
#include "if_table.h"
#include "shell/platform_commands.h"

namespace sim::fabric {
namespace {

using platform_commands::print;
using platform_commands::answer;

// The logical port of a physical port's name that the chassis has, or 0 after printing why not.
uint32_t port_of(cli *cli, const char *name) {
    const uint32_t ifindex = ids::ifindex_of(name);
    if (!ids::slot_port_of(ifindex)) {
        print(cli, std::string("% ") + name + " is not a port of the switch\n");
        return 0;
    }
    if (Chassis::instance().vr_ctx()->ift->find(ifindex) == nullptr) {
        print(cli, std::string("% No such interface ") + name + "\n");
        return 0;
    }
    return if_ifindex_to_st_lport(ifindex);
}

int attach_port(cli *cli, int, char **argv) {
    const uint32_t lport = port_of(cli, argv[0]);
    return lport == 0 ? 1 : answer(cli, attach(lport, argv[0], argv[1]));
}

int detach_port(cli *cli, int, char **argv) {
    const uint32_t lport = port_of(cli, argv[0]);
    return lport == 0 ? 1 : answer(cli, detach(lport));
}

// "platform port show": one line per attachment, under a title line.
int show_ports(cli *cli, int, char **) {
    print(cli, format("%-10s%-16s%12s%12s%12s%12s\n", "Port", "Host", "Received", "Forwarded", "Dropped", "Sent"));
    for (const PortStats &p : ports())
        print(cli, format("%-10s%-16s%12llu%12llu%12llu%12llu\n", p.port.c_str(), p.host.c_str(),
                          static_cast<unsigned long long>(p.received), static_cast<unsigned long long>(p.forwarded),
                          static_cast<unsigned long long>(p.dropped), static_cast<unsigned long long>(p.sent)));
    return 0;
}

const char *kAttachHelp[] = {platform_commands::kPlatformHelp, "Ports backed by Linux interfaces",
                             "Send and receive the port's frames on a Linux interface", "Port (ethS.P)",
                             "Linux interface", nullptr};
const char *kDetachHelp[] = {platform_commands::kPlatformHelp, "Ports backed by Linux interfaces",
                             "End the port's attachment", "Port (ethS.P)", nullptr};
const char *kShowHelp[] = {platform_commands::kPlatformHelp, "Ports backed by Linux interfaces",
                           "The attachments and their frame counters", nullptr};

cli_element g_records[] = {
    {"platform port attach IFNAME WORD", attach_port, kAttachHelp, {0, 0, 0, 0, 0}},
    {"platform port detach IFNAME", detach_port, kDetachHelp, {0, 0, 0, 0, 0}},
    {"platform port show", show_ports, kShowHelp, {0, 0, 0, 0, 0}},
};

}  // namespace

int install_commands(cli_tree *tree) { return platform_commands::install(tree, g_records); }

}  // namespace sim::fabric
