/* The command line: the command installer. */
#ifndef DHCPFTR_CLI_H
#define DHCPFTR_CLI_H

#include "qv_init.h"

int Dhcpftr_CLI_Init(struct qv_init_ctx *ctx);

#endif
