// The switch's logging commands, at the normal level: "logging buffered [SIZE] [LEVEL]", "no logging
// buffered", "logging console [LEVEL]" and "no logging console" in the CONFIG mode, "show logging" and "clear
// logging" in the EXEC mode; with the running-configuration writer that prints what differs from the
// defaults, and the reset that puts the defaults back. docs/shell.md ("Logging") describes them.
#pragma once

#include "cli.h"

namespace sim::log {

// The writer's order: after every module's writer (the screening daemon's is 129).
inline constexpr int kConfigOrder = 1000;

// Installs the logging commands, the writer and the reset into the tree. Returns 0.
int install_commands(cli_tree *tree);

}  // namespace sim::log
