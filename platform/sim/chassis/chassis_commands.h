// The shell's platform commands for the simulated chassis ("platform chassis ..."): show the slots, trunks
// and other interfaces, add and delete interfaces, drive trunk membership, pull and insert cards, and call
// the stacking service's callbacks. Installed at privilege level 15 in the EXEC mode;
// docs/platform-commands.md lists them with the layout of "platform chassis show".
#pragma once

#include "cli.h"
#include "shell/platform_commands.h"

namespace sim::chassis {

// Installs every "platform chassis" record into the tree, in the EXEC mode at level 15. Returns 0 when each
// was installed, otherwise the first non-zero result of cli_install_gen; every record is tried either way.
int install_commands(cli_tree *tree);

}  // namespace sim::chassis
