// The shell's platform commands for the simulated chassis ("platform chassis ..."): show the slots, trunks
// and other interfaces, add and delete interfaces, drive trunk membership, pull and insert cards, and call
// the stacking service's callbacks. Installed at privilege level 15 in the EXEC mode;
// docs/platform-commands.md lists them with the layout of "platform chassis show".
#pragma once

#include <span>

#include "cli.h"
#include "shell/platform_commands.h"

namespace sim::chassis {

// The privilege level of every "platform chassis" command.
constexpr int kCommandLevel = platform_commands::kLevel;

// Installs every "platform chassis" record into the tree, in the EXEC mode at level 15. Returns 0 when each
// was installed, otherwise the first non-zero result of cli_install_gen; every record is tried either way.
int install_commands(cli_tree *tree);

// The command records, in their order of installation (the shell keeps pointers to them).
std::span<cli_element> command_records();

}  // namespace sim::chassis
