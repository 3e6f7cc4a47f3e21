// The shell's platform commands of the ports on Linux interfaces ("platform port ..."): attach a port to a
// Linux interface in the switch's bridge, detach it, show the attachments. Installed at privilege level 15
// in the EXEC mode; docs/platform-commands.md lists them.
#pragma once

#include "cli.h"

namespace sim::datapath {

// Installs every "platform port" record into the tree. Returns 0 when each was installed, otherwise the first
// non-zero result of cli_install_gen.
int install_commands(cli_tree *tree);

}  // namespace sim::datapath
