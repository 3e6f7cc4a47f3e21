// The shell's platform commands for the data path of the simulated kernel filter: "platform traffic ..." runs
// capture files through the filter's classification (counted, or as a preview) and shows and clears its
// counters; "platform kernel audit" compares the filter's tables with the daemon's configuration. Installed
// at privilege level 15 in the EXEC mode, next to the other "platform kernel" commands;
// docs/platform-commands.md lists them with their output.
#pragma once

#include "cli.h"
#include "shell/platform_commands.h"

namespace sim::traffic {

// Installs every record into the tree, in the EXEC mode at level 15. Returns 0 when each was installed,
// otherwise the first non-zero result of cli_install_gen; every record is tried either way.
int install_commands(cli_tree *tree);

}  // namespace sim::traffic
