// The shell's platform commands for the simulated kernel filter ("platform kernel ..."): show its tables,
// inject faults, trace its messages. Installed at privilege level 15 in the EXEC mode.
#pragma once

#include "cli.h"

namespace sim::kernel {

// Installs every "platform kernel" command into the tree.
void install_commands(cli_tree *tree);

}  // namespace sim::kernel
