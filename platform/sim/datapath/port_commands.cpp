// The "platform port" commands (port_commands.h). A refused change prints its reason ("% ...") and the
// handler returns 1, changing nothing.
#include "datapath/port_commands.h"

#include <string>

#include "chassis/sim_chassis.h"
#include "datapath/sim_datapath.h"
#include "format/sim_format.h"
#include "if_table.h"
#include "log/logging_commands.h"
#include "shell/platform_commands.h"

namespace sim::datapath {
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
    print(cli, format("%-10s%-16s%-16s%12s%12s%12s\n", "Port", "Host", "Interface", "Forwarded", "Dropped",
                      "Malformed"));
    for (const PortStats &p : ports())
        print(cli, format("%-10s%-16s%-16s%12llu%12llu%12llu\n", p.port.c_str(), p.host.c_str(), p.interface.c_str(),
                          static_cast<unsigned long long>(p.forwarded), static_cast<unsigned long long>(p.dropped),
                          static_cast<unsigned long long>(p.malformed)));
    return 0;
}

// The running configuration: one "platform port attach" line per attachment in port order, then "!";
// nothing without attachments.
int write_config(cli *cli) {
    std::string text;
    for (const PortAttachment &a : attachments())
        text += "platform port attach " + a.port + " " + a.host + "\n";
    if (!text.empty())
        print(cli, text + "!\n");
    return 0;
}

const char *kAttachHelp[] = {platform_commands::kPlatformHelp, "Ports on Linux interfaces",
                             "Put a Linux interface into the switch's bridge as the port, screened",
                             "Port (ethS.P)", "Linux interface", nullptr};
const char *kDetachHelp[] = {platform_commands::kPlatformHelp, "Ports on Linux interfaces",
                             "Take the port's Linux interface out of the bridge again", "Port (ethS.P)", nullptr};
const char *kShowHelp[] = {platform_commands::kPlatformHelp, "Ports on Linux interfaces",
                           "The attachments and the kernel's screening counters", nullptr};

cli_element g_records[] = {
    {"platform port attach IFNAME WORD", attach_port, kAttachHelp, {0, 0, 0, 0, 0}},
    {"platform port detach IFNAME", detach_port, kDetachHelp, {0, 0, 0, 0, 0}},
    {"platform port show", show_ports, kShowHelp, {0, 0, 0, 0, 0}},
};

cli_element g_config_attach = {"platform port attach IFNAME WORD", attach_port, kAttachHelp, {0, 0, 0, 0, 0}};

static_assert(kConfigOrder > log::kConfigOrder, "the attach lines come after the logging lines");

}  // namespace

int install_commands(cli_tree *tree) {
    int result = platform_commands::install(tree, g_records);
    const int config = cli_install_gen(tree, CONFIG_MODE, platform_commands::kLevel, 0, &g_config_attach);
    cli_install_config(tree, kConfigOrder, write_config);
    return result != 0 ? result : config;
}

}  // namespace sim::datapath
