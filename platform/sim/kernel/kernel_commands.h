// The shell's platform commands for the simulated kernel filter ("platform kernel ..."): show its tables,
// inject faults, trace its messages. Installed at privilege level 15 in the EXEC mode; docs/platform-commands.md
// lists them with the layout of "platform kernel show".
#pragma once

#include <span>
#include <string>

#include "cli.h"
#include "portlist.h"

namespace sim::kernel {

// The privilege level of every "platform kernel" command.
constexpr int kCommandLevel = 15;

// Installs every "platform kernel" record into the tree, in the EXEC mode at level 15. Returns 0 when each
// was installed, otherwise the first non-zero result of cli_install_gen; every record is tried either way.
int install_commands(cli_tree *tree);

// The command records, in their order of installation (the shell keeps pointers to them).
std::span<cli_element> command_records();

// The names of the named ports of a list in the range form the interface-range parser reads back: runs of
// consecutive names as the first name, "-" and the short form of the last ("eth1.1-1.8", "port-channel1-4"),
// joined by ","; ports without a name are left out. Empty when no port of the list has a name.
std::string port_text(const PORTLIST_T &ports);

}  // namespace sim::kernel
