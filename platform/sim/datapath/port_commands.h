// The shell's platform commands of the ports on Linux interfaces ("platform port ..."): attach a port to a
// Linux interface in the switch's bridge, detach it, show the attachments. Installed at privilege level 15
// in the EXEC mode, attach also in the CONFIG mode, where the running configuration's attach lines are
// replayed; docs/platform-commands.md lists them.
#pragma once

#include "cli.h"

namespace sim::datapath {

// The order of the running-configuration writer of the attachments: after the daemon's screening (129) and
// after logging (1000). Attaching is what lets a port's frames through the bridge, so at a replay it comes
// last, when the rules that screen the frames and the log settings that report on them are in place.
inline constexpr int kConfigOrder = 2000;

// Installs every "platform port" record and the writer of the attach lines into the tree; no reset: a
// "clear running-config" leaves every port attached. Returns 0 when each was installed, otherwise the first
// non-zero result of cli_install_gen.
int install_commands(cli_tree *tree);

}  // namespace sim::datapath
