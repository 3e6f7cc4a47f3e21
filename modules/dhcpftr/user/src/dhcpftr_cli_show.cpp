/*
 * The command line's views of the configuration: "show ip dhcp screening", the debug port view, the
 * running-configuration writer (the commands that rebuild the configuration, one block each, closed by
 * "!") and the configuration reset, which takes every setting back to its default through the kernel filter.
 */
#include <stdio.h>
#include <string.h>

#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_portlist.h"
#include "if_table.h"


/* Names per line of the debug port view. */
#define DHCPFTR_DBG_NAMES_PER_LINE 5
/* "XX:XX:XX:XX:XX:XX" and its terminator. */
#define DHCPFTR_MAC_TEXT_BUF 18

static const uint8_t dhcpftr_all_clients[6] = {0, 0, 0, 0, 0, 0};

/* Non-zero when the rule covers every client (its MAC is all zero). */
static int _dhcpftr_rule_for_all_clients(const DHCPFTR_PERMIT_RULE_ENTRY_T *rule)
{
    return memcmp(rule->client_mac, dhcpftr_all_clients, sizeof(dhcpftr_all_clients)) == 0;
}

/* "show ip dhcp screening": the enabled ports, the trap/log state, the suppress duration and the rules. */
int dhcpftr_show(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    char mac[DHCPFTR_MAC_TEXT_BUF];
    int count = 0;

    (void)argc;
    (void)argv;
    DHCPFTR_CLI_OUT(cli, "%-3sEnable ports: ", "");
    dhcpftr_print_ports_cli(&dhcpftr_cfg_portlist_db, cli);
    DHCPFTR_CLI_OUT(cli, "%-3sFilter DHCP Server Trap_Log State: %s\n", "",
                    _dhcpftr_is_trap_enable() ? "Enable" : "Disable");
    DHCPFTR_CLI_OUT(cli, "%-3sIllegal Server Log Suppress Duration: %d minutes\n", "", _dhcpftr_get_trap_duration());
    DHCPFTR_CLI_OUT(cli, "%-3sFilter DHCP Server/Client List: \n", "");
    if (Dhcpftr_DB_is_empty())
        return 0;
    DHCPFTR_CLI_OUT(cli, "%-6s%-18s%-19s%s\n", "", "Server IP Address ", "Client MAC Address ", "Port");
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = Dhcpftr_DB_Get_Next_Rule(rule)) {
        memset(mac, 0, sizeof(mac));
        if (_dhcpftr_rule_for_all_clients(rule))
            snprintf(mac, sizeof(mac), "%s", "All Client MAC");
        else
            snprintf(mac, sizeof(mac), "%02X:%02X:%02X:%02X:%02X:%02X", DHCPFTR_MAC_ARGS(rule->client_mac));
        DHCPFTR_CLI_OUT(cli, "%-6s%-18r%-19s", "", &rule->server_ip, mac);
        dhcpftr_print_ports_cli(&rule->portlist, cli);
        count++;
    }
    DHCPFTR_CLI_OUT(cli, "\n%-3s%s%d\n", "", "Total Entries: ", count);
    return 0;
}

/* Prints the names of the ports of a list that have an interface record, five of 10 columns a line, each
 * line begun by "\n". */
static void _dhcpftr_dbg_show_names(struct cli *cli, PORTLIST_T *ports)
{
    struct interface *ifp;
    uint32_t lport;
    int printed = 0;

    for (lport = 1; lport <= PORTLIST_MAX_PORT; lport++) {
        if (!DHCPFTR_PORT_IS_SET(ports, lport))
            continue;
        ifp = if_lookup_by_index(cli->vr->ift, if_st_lport_to_ifindex(lport));
        if (ifp == 0)
            continue;
        if (printed % DHCPFTR_DBG_NAMES_PER_LINE == 0)
            DHCPFTR_CLI_OUT(cli, "\n");
        DHCPFTR_CLI_OUT(cli, "%-10s", ifp->name);
        printed++;
    }
}

/* "show ip dhcp screening portlist": the present ports, then the enabled ports, by name. */
int dhcpftr_dbg_show_portlist(struct cli *cli, int argc, char **argv)
{
    (void)argc;
    (void)argv;
    DHCPFTR_CLI_OUT(cli, "Physical ports: ");
    _dhcpftr_dbg_show_names(cli, &dhcpftr_portlist_db);
    DHCPFTR_CLI_OUT(cli, "\n");
    DHCPFTR_CLI_OUT(cli, "Configured ports:");
    _dhcpftr_dbg_show_names(cli, &dhcpftr_cfg_portlist_db);
    return 0;
}

/* The running configuration: the enabled ports, the trap/log, a duration other than 10 and every rule, each
 * as its command followed by "!". A default setting writes nothing. Returns 0. */
int dhcpftr_cli_config_write(struct cli *cli)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;

    if (!PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db)) {
        DHCPFTR_CLI_OUT(cli, "ip dhcp screening ports ");
        dhcpftr_print_ports_cli(&dhcpftr_cfg_portlist_db, cli);
        DHCPFTR_CLI_OUT(cli, "!\n");
    }
    if (_dhcpftr_is_trap_enable()) {
        DHCPFTR_CLI_OUT(cli, "ip dhcp screening trap-log\n");
        DHCPFTR_CLI_OUT(cli, "!\n");
    }
    if (_dhcpftr_get_trap_duration() != DHCPFTR_DEFAULT_TRAP_DURATION) {
        DHCPFTR_CLI_OUT(cli, "ip dhcp screening suppress-duration %d\n", _dhcpftr_get_trap_duration());
        DHCPFTR_CLI_OUT(cli, "!\n");
    }
    if (Dhcpftr_DB_is_empty())
        return 0;
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = Dhcpftr_DB_Get_Next_Rule(rule)) {
        if (_dhcpftr_rule_for_all_clients(rule))
            DHCPFTR_CLI_OUT(cli, "ip dhcp screening server-ip %r ports ", &rule->server_ip);
        else
            DHCPFTR_CLI_OUT(cli, "ip dhcp screening server-ip %r client-mac %02X:%02X:%02X:%02X:%02X:%02X ports ",
                            &rule->server_ip, DHCPFTR_MAC_ARGS(rule->client_mac));
        dhcpftr_print_ports_cli(&rule->portlist, cli);
        DHCPFTR_CLI_OUT(cli, "!\n");
    }
    return 0;
}

/*
 * The configuration reset: every enabled port disabled, every rule deleted, the trap/log off and the
 * duration back to 10, each through the kernel filter; then the pending lists emptied. A rule whose deletion
 * fails stays, and the reset goes on with the next one. The present-port list is kept. Returns 0.
 */
int dhcpftr_cli_config_reset(void)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    DHCPFTR_PERMIT_RULE_ENTRY_T *next;
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T ports;
    int32_t result;

    if (!PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db)) {
        PORTLIST_copy(&ports, &dhcpftr_cfg_portlist_db);
        result = 0;
        Dhcpftr_DB_Delete_Ports_to_K(&ports, &result);
        if (result >= 0)
            PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);
    }
    if (!Dhcpftr_DB_is_empty()) {
        for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = next) {
            next = Dhcpftr_DB_Get_Next_Rule(rule);
            memset(&entry, 0, sizeof(entry));
            entry.server_ip = rule->server_ip;
            memcpy(entry.client_mac, rule->client_mac, sizeof(entry.client_mac));
            PORTLIST_copy(&entry.portlist, &rule->portlist);
            result = 0;
            Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
        }
    }
    if (_dhcpftr_is_trap_enable())
        Dhcpftr_DB_Set_Trap_to_K(0);
    Dhcpftr_DB_Set_Trap_duration_to_K(DHCPFTR_DEFAULT_TRAP_DURATION);
    PORTLIST_clear_all(&should_update_port);
    dhcpftr_clear_temp_rule();
    return 0;
}
