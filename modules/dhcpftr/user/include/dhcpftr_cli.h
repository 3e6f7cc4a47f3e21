/*
 * The command line: the command installer, the configuration handlers, the show handlers, the
 * running-configuration writer and the configuration reset. Handlers return 0 when done and 1 when refused
 * or failed, after printing the reason on the terminal.
 */
#ifndef DHCPFTR_CLI_H
#define DHCPFTR_CLI_H

#include "cli.h"
#include "qv_init.h"

/* Prints on the terminal of a command context, printf-like. */
#define DHCPFTR_CLI_OUT(cli, ...) (cli)->out((cli)->out_target, __VA_ARGS__)

/* Help texts shared by the commands of the command line and of the SNMP bridge. */
#define DHCPFTR_HELP_NO "Negate a command or set its defaults"
#define DHCPFTR_HELP_SHOW "Show running system information"
#define DHCPFTR_HELP_IP "Internet Protocol (IP)"
#define DHCPFTR_HELP_DHCP "DHCP"

/* Order number of the daemon's block in the running configuration. */
#define DHCPFTR_CLI_CONFIG_ORDER 129

int Dhcpftr_CLI_Init(struct qv_init_ctx *ctx);

/* Configuration commands. */
int interface_dhcp_filter(struct cli *cli, int argc, char **argv);
int dhcpftr_enable_port(struct cli *cli, int argc, char **argv);
int dhcpftr_disable_port(struct cli *cli, int argc, char **argv);
int dhcpftr_add_permit_rule(struct cli *cli, int argc, char **argv);
int dhcpftr_remove_permit_rule(struct cli *cli, int argc, char **argv);
int dhcpftr_enable_trap_log(struct cli *cli, int argc, char **argv);
int dhcpftr_disable_trap_log(struct cli *cli, int argc, char **argv);
int dhcpftr_set_trap_duration(struct cli *cli, int argc, char **argv);
int dhcpftr_set_trap_duration_default(struct cli *cli, int argc, char **argv);

/* The MAC text of a rule command as six bytes; 0 after printing that the text is refused. */
int dhcpftr_cli_scan_mac(struct cli *cli, const char *text, uint8_t *mac);

/* Show commands, running configuration and reset. */
int dhcpftr_show(struct cli *cli, int argc, char **argv);
int dhcpftr_dbg_show_portlist(struct cli *cli, int argc, char **argv);
int dhcpftr_cli_config_write(struct cli *cli);
int dhcpftr_cli_config_reset(void);

#endif
