#include "kernel/kernel_commands.h"

namespace sim::kernel {

void install_commands(cli_tree *tree) { (void)tree; }

}  // namespace sim::kernel
