/*
 * Port ranges: the operator's range text turned into a port list, with every interface name checked and,
 * while the switch boots, trunk interfaces that do not exist yet deferred into the pending lists; and the
 * check of a DHCP server's IPv4 host address.
 */
#ifndef DHCPFTR_PORTRANGE_H
#define DHCPFTR_PORTRANGE_H

#include <stdint.h>

#include "cli.h"
#include "dhcpftr_db.h"
#include "portlist.h"

/* Reason codes of check_ip4_host_addr; 0 means the address may be a host's. */
#define DHCPFTR_IP4_OK 0
#define DHCPFTR_IP4_A_NET_ZERO 1
#define DHCPFTR_IP4_A_LOOPBACK 2
#define DHCPFTR_IP4_A_HOST_ZERO 3
#define DHCPFTR_IP4_A_BROADCAST 4
#define DHCPFTR_IP4_B_RESERVED 5
#define DHCPFTR_IP4_B_HOST_ZERO 6
#define DHCPFTR_IP4_B_BROADCAST 7
#define DHCPFTR_IP4_C_RESERVED 8
#define DHCPFTR_IP4_C_HOST_ZERO 9
#define DHCPFTR_IP4_C_BROADCAST 10
#define DHCPFTR_IP4_MULTICAST 11

int _dhcpftr_if_range_validate_if(const char *name, struct cli *cli);
int _dhcpftr_port_range_to_portlist(struct cli *cli, const char *range, PORTLIST_T *ports,
                                    DHCPFTR_PENDING_RULE_T *key);
int check_ip4_host_addr(uint32_t addr);

#endif
