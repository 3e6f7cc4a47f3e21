/*
 * The SNMP bridge: the level-20 commands through which the switch's SNMP agent reads and writes the
 * screening configuration, and the table readers that the two table shows hand to the bridge library.
 *
 * Two tables are offered: the permit-rule table, keyed by (server address, client MAC), whose row buffer is
 * a permit-rule entry, and the enabled-port table, keyed by ifindex, whose row buffer is one unsigned 32-bit
 * ifindex. The readers only read the store and the enabled-port list.
 */
#ifndef DHCPFTR_SNMP_H
#define DHCPFTR_SNMP_H

#include "cli.h"

/* Bytes of a row key: permit rule (server address, client MAC, two zero bytes) and enabled port. */
#define DHCPFTR_SNMP_RULE_KEY_LEN 12
#define DHCPFTR_SNMP_PORT_KEY_LEN 4

/* Column numbers of the values the bridge commands send. */
#define DHCPFTR_SNMP_COL_TRAP_STATE 1     /* scalar: trap/log state, 1 enabled, 2 disabled */
#define DHCPFTR_SNMP_COL_TRAP_DURATION 2  /* scalar: suppress duration in minutes */
#define DHCPFTR_SNMP_COL_RULE_PORTS 3     /* permit rule: its port list ("%96J") */
#define DHCPFTR_SNMP_COL_RULE_STATUS 4    /* permit rule: 1 */
#define DHCPFTR_SNMP_COL_PORT_STATUS 2    /* enabled port: 1 */

/* The command records, installed by the command installer at level 20. */
extern struct cli_element dhcp_screening_snmp_global_show_cmd;
extern struct cli_element dhcpftr_snmp_cfg_permit_rule_cmd;
extern struct cli_element dhcpftr_snmp_cfg_del_permit_rule_cmd;
extern struct cli_element dhcpftr_snmp_show_enable_port_cmd;
extern struct cli_element dhcpftr_snmp_show_permit_rule_cmd;

/* Handlers. */
int dhcp_screening_snmp_global_show(struct cli *cli, int argc, char **argv);
int dhcpftr_snmp_cfg_permit_rule(struct cli *cli, int argc, char **argv);
int dhcpftr_snmp_cfg_del_permit_rule(struct cli *cli, int argc, char **argv);
int dhcpftr_snmp_show_enable_port(struct cli *cli, int argc, char **argv);
int dhcpftr_snmp_show_permit_rule(struct cli *cli, int argc, char **argv);

/* Permit-rule table: the row is a DHCPFTR_PERMIT_RULE_ENTRY_T. */
int _dhcpftr_permit_rule_get(void *row);
int _dhcpftr_permit_rule_getnext(void *row);
int _dhcpftr_print_permit_rule(struct cli *cli, void *row);

/* Enabled-port table: the row is a uint32_t ifindex. */
int _dhcpftr_enable_port_get(void *row);
int _dhcpftr_enable_port_getnext(void *row);
int _dhcpftr_print_enable_ports(struct cli *cli, void *row);

#endif
