/* The command line: the installer of the daemon's commands, running-configuration writer and reset. */
#include "dhcpftr_cli.h"

/* Command installer, called by the start-up framework with its context. Returns 0. */
int Dhcpftr_CLI_Init(struct qv_init_ctx *ctx)
{
    (void)ctx;
    return 0;
}
