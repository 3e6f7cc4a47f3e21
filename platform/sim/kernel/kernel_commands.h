// The shell's platform commands for the simulated kernel filter ("platform kernel ..."): show its tables,
// inject faults, trace its messages. Installed at privilege level 15 in the EXEC mode; docs/platform-commands.md
// lists them with the layout of "platform kernel show".
#pragma once

#include "cli.h"
#include "shell/platform_commands.h"

namespace sim::kernel {

// Installs every "platform kernel" record into the tree, in the EXEC mode at level 15. Returns 0 when each
// was installed, otherwise the first non-zero result of cli_install_gen; every record is tried either way.
int install_commands(cli_tree *tree);

}  // namespace sim::kernel
