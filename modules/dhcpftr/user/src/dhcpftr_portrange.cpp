/*
 * Port ranges and the host-address check of a rule's server.
 *
 * A range text names interfaces ("eth1.1-1.8,port-channel2"); the platform's range parser walks it. This
 * file checks every name, printing one line for each it refuses, and only when all are accepted sets the
 * logical port of each in a port list. While the switch boots, the saved configuration may name trunk
 * interfaces that are created only later: such a name is accepted and deferred (its rule key onto the
 * trunk's pending-rule list, or its port into the pending-enable list) instead of being set in the list.
 */
#include "dhcpftr_portrange.h"

#include <string.h>

#include "dhcpftr_cli.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "if_table.h"
#include "qvlog.h"

/* Looks a name up where the validation does: the router's table for a non-default router, else the global
 * table. */
static struct interface *_dhcpftr_validate_lookup(struct cli *cli, const char *name)
{
    if (cli->vr->id != 0)
        return if_lookup_by_name(cli->vr->ift, name);
    return ifg_lookup_by_name(cli->gctx->ift, name);
}

/*
 * Validation callback of the range parser for one interface name. Accepts (0) an existing port or trunk
 * that is no trunk member, and, while booting, a trunk name without interface; refuses (1) everything else
 * after printing why.
 */
int _dhcpftr_if_range_validate_if(const char *name, struct cli *cli)
{
    struct interface *ifp = _dhcpftr_validate_lookup(cli, name);

    if (ifp == 0) {
        if (DHCPFTR_Get_Reboot_Ready() == 0 && if_check_if_type_by_ifname(name) == IF_TYPE_TRUNK) {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                     "%s [%d]: ifp for %s is not found during bootup, might not be created yet\n", __func__,
                     __LINE__, name);
            return 0;
        }
        DHCPFTR_CLI_OUT(cli, "%% No such interface %s\n", name);
        return 1;
    }
    if (ifp->state == IF_STATE_TRUNK_MEMBER) {
        DHCPFTR_CLI_OUT(cli, "%% %s conflict with trunk\n", name);
        return 1;
    }
    if ((ifp->ifindex >= IF_PHY_IFINDEX_MIN && ifp->ifindex <= IF_PHY_IFINDEX_MAX) ||
        (ifp->ifindex >= IF_TRUNK_IFINDEX_MIN && ifp->ifindex <= IF_TRUNK_IFINDEX_MAX))
        return 0;
    DHCPFTR_CLI_OUT(cli, "%% %s is not support\n", name);
    return 1;
}

/*
 * Sets in ports the logical port of every interface of the range text. While booting, a trunk name without
 * interface is deferred: with a pending-rule key the key goes onto the trunk's pending-rule list, without
 * one the trunk's port goes into the pending-enable list; either way it is not set in ports. Returns 1 on
 * success, 0 on failure (any message is printed); on failure ports may hold some of the range's ports.
 */
int _dhcpftr_port_range_to_portlist(struct cli *cli, const char *range, PORTLIST_T *ports,
                                    DHCPFTR_PENDING_RULE_T *key)
{
    IF_RANGE_PARSER_T parser;
    struct interface *ifp;
    const char *name;
    int error = 0;
    int trunk_id;

    if_range_parser_init(range, &parser);
    if (if_range_parser_validate(&parser, cli, _dhcpftr_if_range_validate_if) != 0)
        return 0;
    for (;;) {
        name = if_range_parser_get_next(&parser, &error);
        if (error != 0)
            return 0;
        if (name == 0)
            return 1;
        ifp = if_lookup_by_name(cli->vr->ift, name);
        if (ifp != 0) {
            PORTLIST_set_port(ports, if_ifindex_to_st_lport(ifp->ifindex));
            continue;
        }
        if (DHCPFTR_Get_Reboot_Ready() != 0) {
            DHCPFTR_CLI_OUT(cli, "%% Interface %s can not configure DHCP server screening\n", name);
            return 0;
        }
        if (if_check_if_type_by_ifname(name) != IF_TYPE_TRUNK)
            return 0;
        if (key != 0) {
            trunk_id = (int)(if_utl_ifname_to_ifindex(name) - IF_TRUNK_IFINDEX_MIN);
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                     "%s [%d]: if %s is not found during bootup,trunk id %d\n", __func__, __LINE__, name,
                     trunk_id);
            _dhcpftr_add_list_first(trunk_id, key);
        } else {
            PORTLIST_set_port(&should_update_port, if_ifindex_to_st_lport(if_utl_ifname_to_ifindex(name)));
        }
    }
}

/*
 * Tells why an IPv4 address (first octet most significant) cannot be a host's address: one of the
 * DHCPFTR_IP4_* reasons, the first that applies, or DHCPFTR_IP4_OK.
 */
int check_ip4_host_addr(uint32_t addr)
{
    uint32_t first = addr >> 24;

    if (addr > 0xDFFFFFFFu)
        return DHCPFTR_IP4_MULTICAST;
    if ((addr & 0x80000000u) == 0) {
        if (first == 0)
            return DHCPFTR_IP4_A_NET_ZERO;
        if (first == 127)
            return DHCPFTR_IP4_A_LOOPBACK;
        if ((addr & 0x00FFFFFFu) == 0)
            return DHCPFTR_IP4_A_HOST_ZERO;
        if ((addr & 0x00FFFFFFu) == 0x00FFFFFFu)
            return DHCPFTR_IP4_A_BROADCAST;
        return DHCPFTR_IP4_OK;
    }
    if ((addr & 0xC0000000u) == 0x80000000u) {
        if ((addr & 0xFFFF0000u) == 0xBFFF0000u)
            return DHCPFTR_IP4_B_RESERVED;
        if ((addr & 0x0000FFFFu) == 0)
            return DHCPFTR_IP4_B_HOST_ZERO;
        if ((addr & 0x0000FFFFu) == 0x0000FFFFu)
            return DHCPFTR_IP4_B_BROADCAST;
        return DHCPFTR_IP4_OK;
    }
    if ((addr & 0xFFFFFF00u) == 0xDFFFFF00u)
        return DHCPFTR_IP4_C_RESERVED;
    if ((addr & 0xFFu) == 0)
        return DHCPFTR_IP4_C_HOST_ZERO;
    if ((addr & 0xFFu) == 0xFFu)
        return DHCPFTR_IP4_C_BROADCAST;
    return DHCPFTR_IP4_OK;
}
