/*
 * The SNMP bridge: the commands that the switch's SNMP agent issues at level 20, and the table readers that
 * the two table shows hand to the bridge library.
 *
 * The rule commands go through the same commits as the operator's commands, but report their problems to
 * the log; only a malformed argument is told on the terminal. The readers copy what they find into the row
 * buffer, so the row printer never works on a stored entry.
 */
#include "dhcpftr_snmp.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_portlist.h"
#include "if_table.h"
#include "qvlog.h"
#include "uib_snmp.h"

/* Second word of every column descriptor. */
#define DHCPFTR_SNMP_COLUMN_KIND (-100)

/* Values of the scalar trap/log state. */
#define DHCPFTR_SNMP_TRAP_ENABLED 1
#define DHCPFTR_SNMP_TRAP_DISABLED 2

/* Value of the status column of every row. */
#define DHCPFTR_SNMP_ROW_ACTIVE 1

/* Output flags that only the scalar show looks at. */
#define DHCPFTR_SNMP_OUT_FLAG_VALUE 1u
#define DHCPFTR_SNMP_OUT_FLAG_COLUMN 2u

/* Action word of the rule set command that changes a stored rule and never creates one. */
#define DHCPFTR_SNMP_ACTION_WRITE "write"

/* Arguments of the rule set command before its port-list words, and the arguments around them. */
#define DHCPFTR_SNMP_RULE_FIRST_WORD_ARG 2
#define DHCPFTR_SNMP_RULE_NON_WORD_ARGS 3

/* Kernel filter result after which the rule delete fails without a message. */
#define DHCPFTR_SNMP_K_RET_DELETE_REFUSED (-40)

/* Help texts shared by the bridge commands. */
#define DHCPFTR_SNMP_HELP_FILTERING "Filtering"
#define DHCPFTR_SNMP_HELP_SNMP "SNMP"
#define DHCPFTR_SNMP_HELP_SERVER "Server IP"
#define DHCPFTR_SNMP_HELP_MAC "Client MAC"

static const char *dhcp_screening_snmp_global_show_cmd_help[] = {
    DHCPFTR_HELP_SHOW, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, "Screening", "Snmp", 0};
struct cli_element dhcp_screening_snmp_global_show_cmd = {
    "show ip dhcp screening snmp", dhcp_screening_snmp_global_show, dhcp_screening_snmp_global_show_cmd_help,
    {0, 0, 0, 0, 0}};

static const char *dhcpftr_snmp_cfg_permit_rule_cmd_help[] = {
    DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_SNMP_HELP_FILTERING, DHCPFTR_SNMP_HELP_SNMP,
    DHCPFTR_SNMP_HELP_SERVER, DHCPFTR_SNMP_HELP_MAC,
    "Portlist 1", "Portlist 2", "Portlist 3", "Portlist 4", "Portlist 5", "Portlist 6",
    "Portlist 7", "Portlist 8", "Portlist 9", "Portlist 10", "Portlist 11", "Portlist 12",
    "Portlist 13", "Portlist 14", "Portlist 15", "Portlist 16", "Portlist 17", "Portlist 18",
    "Portlist 19", "Portlist 20", "Portlist 21", "Portlist 22", "Portlist 23", "Portlist 24",
    "ACTION", 0};
struct cli_element dhcpftr_snmp_cfg_permit_rule_cmd = {
    "ip dhcp screening snmp A.B.C.D MAC"
    " WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD"
    " WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD"
    " ACTION",
    dhcpftr_snmp_cfg_permit_rule, dhcpftr_snmp_cfg_permit_rule_cmd_help, {0, 0, 0, 0, 0}};

static const char *dhcpftr_snmp_cfg_del_permit_rule_cmd_help[] = {
    DHCPFTR_HELP_NO, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_SNMP_HELP_FILTERING,
    DHCPFTR_SNMP_HELP_SNMP, DHCPFTR_SNMP_HELP_SERVER, DHCPFTR_SNMP_HELP_MAC, 0};
struct cli_element dhcpftr_snmp_cfg_del_permit_rule_cmd = {
    "no ip dhcp screening snmp A.B.C.D MAC", dhcpftr_snmp_cfg_del_permit_rule,
    dhcpftr_snmp_cfg_del_permit_rule_cmd_help, {0, 0, 0, 0, 0}};

/* The port-table show carries the help texts of the rule-table show. */
static const char *dhcpftr_snmp_show_enable_port_cmd_help[] = {
    DHCPFTR_HELP_SHOW, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_SNMP_HELP_FILTERING,
    DHCPFTR_SNMP_HELP_SNMP, DHCPFTR_SNMP_HELP_SERVER, DHCPFTR_SNMP_HELP_MAC, 0};
struct cli_element dhcpftr_snmp_show_enable_port_cmd = {
    "show ip dhcp screening snmp ports IFINDEX", dhcpftr_snmp_show_enable_port,
    dhcpftr_snmp_show_enable_port_cmd_help, {0, 0, 0, 0, 0}};

static const char *dhcpftr_snmp_show_permit_rule_cmd_help[] = {
    DHCPFTR_HELP_SHOW, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_SNMP_HELP_FILTERING,
    DHCPFTR_SNMP_HELP_SNMP, DHCPFTR_SNMP_HELP_SERVER, DHCPFTR_SNMP_HELP_MAC, 0};
struct cli_element dhcpftr_snmp_show_permit_rule_cmd = {
    "show ip dhcp screening snmp A.B.C.D MAC", dhcpftr_snmp_show_permit_rule,
    dhcpftr_snmp_show_permit_rule_cmd_help, {0, 0, 0, 0, 0}};

/* Fills a column descriptor with the column number and the descriptor kind. */
static void _dhcpftr_snmp_column(UIB_COLUMN_T *column, int32_t number)
{
    column->column = number;
    column->kind = DHCPFTR_SNMP_COLUMN_KIND;
}

/*
 * Sends one number of a table row with "%d": in table mode to the bridge with its column descriptor, in
 * plain mode to the output target; nothing without a table-output operation or with other flags. Returns
 * UIB_OUT_STOP when the bridge asked to stop, else 0.
 */
static int _dhcpftr_snmp_row_number(struct cli *cli, int32_t number, int value)
{
    UIB_COLUMN_T column;

    if (cli->table_out == 0)
        return 0;
    _dhcpftr_snmp_column(&column, number);
    if (cli->out_flags & CLI_OUT_FLAG_TABLE) {
        if (cli->table_out(&cli->table_area, &column, "%d", value) == UIB_OUT_STOP)
            return UIB_OUT_STOP;
    } else if (cli->out_flags == CLI_OUT_FLAG_PLAIN) {
        cli->table_out(cli->out_target, "%d", value);
    }
    return 0;
}

/* Sends the port list of a table row with "%96J", passed by value, as _dhcpftr_snmp_row_number sends a
 * number. Returns UIB_OUT_STOP when the bridge asked to stop, else 0. */
static int _dhcpftr_snmp_row_ports(struct cli *cli, int32_t number, PORTLIST_T *ports)
{
    UIB_COLUMN_T column;
    PORTLIST_T copy;

    if (cli->table_out == 0)
        return 0;
    _dhcpftr_snmp_column(&column, number);
    PORTLIST_copy(&copy, ports);
    if (cli->out_flags & CLI_OUT_FLAG_TABLE) {
        if (cli->table_out(&cli->table_area, &column, "%96J", copy) == UIB_OUT_STOP)
            return UIB_OUT_STOP;
    } else if (cli->out_flags == CLI_OUT_FLAG_PLAIN) {
        cli->table_out(cli->out_target, "%96J", copy);
    }
    return 0;
}

/*
 * Sends one scalar with "%d": in table mode to the bridge with its column descriptor; with the value flag
 * to the output target, with the column descriptor too when the column flag is also set; in plain mode to
 * the output target; nothing without a table-output operation or with other flags. Returns UIB_OUT_STOP when
 * the bridge asked to stop, else 0.
 */
static int _dhcpftr_snmp_scalar(struct cli *cli, int32_t number, int value)
{
    UIB_COLUMN_T column;

    if (cli->table_out == 0)
        return 0;
    _dhcpftr_snmp_column(&column, number);
    if (cli->out_flags & CLI_OUT_FLAG_TABLE) {
        if (cli->table_out(&cli->table_area, &column, "%d", value) == UIB_OUT_STOP)
            return UIB_OUT_STOP;
    } else if (cli->out_flags & DHCPFTR_SNMP_OUT_FLAG_VALUE) {
        if (cli->out_flags & DHCPFTR_SNMP_OUT_FLAG_COLUMN)
            cli->table_out(cli->out_target, &column, "%d", value);
        else
            cli->table_out(cli->out_target, "%d", value);
    } else if (cli->out_flags == CLI_OUT_FLAG_PLAIN) {
        cli->table_out(cli->out_target, "%d", value);
    }
    return 0;
}

/* Looks up the key of a permit-rule row. Returns 1 with the stored port list copied into the row (its key
 * unchanged), or 0 with the row unchanged when the key is not stored. */
int _dhcpftr_permit_rule_get(void *row)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *buffer = (DHCPFTR_PERMIT_RULE_ENTRY_T *)row;
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    DHCPFTR_PERMIT_RULE_ENTRY_T *found;

    memcpy(&entry, buffer, sizeof(entry));
    found = Dhcpftr_DB_Get_Rule(&entry);
    if (found == 0)
        return 0;
    PORTLIST_copy(&buffer->portlist, &found->portlist);
    return 1;
}

/*
 * Finds the rule after the key of a permit-rule row: the first rule for server address 0 (the start of the
 * table), else the first rule whose key is greater, stored or not. Returns 1 with that whole rule copied
 * into the row, or 0 with the row unchanged when there is none.
 */
int _dhcpftr_permit_rule_getnext(void *row)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *buffer = (DHCPFTR_PERMIT_RULE_ENTRY_T *)row;
    DHCPFTR_PERMIT_RULE_ENTRY_T *found;

    if (Dhcpftr_DB_entry_number() == 0)
        return 0;
    if (buffer->server_ip == 0)
        found = Dhcpftr_DB_Get_First_Rule();
    else
        found = Dhcpftr_DB_Get_Rule_CloseNext(buffer);
    if (found == 0)
        return 0;
    Dhcpftr_copy_rule_entry(buffer, found);
    return 1;
}

/*
 * Sends one permit-rule row: its 12-byte key (server address first octet first, client MAC, two zero bytes),
 * then its port list (column 3) and its status 1 (column 4). Logs the key. Returns UIB_OUT_STOP as soon as
 * the bridge asks to stop, else 0.
 */
int _dhcpftr_print_permit_rule(struct cli *cli, void *row)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule = (DHCPFTR_PERMIT_RULE_ENTRY_T *)row;
    uint8_t key[DHCPFTR_SNMP_RULE_KEY_LEN];
    uint32_t server = ntohl(rule->server_ip);

    key[0] = (uint8_t)(server >> 24);
    key[1] = (uint8_t)(server >> 16);
    key[2] = (uint8_t)(server >> 8);
    key[3] = (uint8_t)server;
    memcpy(&key[4], rule->client_mac, sizeof(rule->client_mac));
    key[10] = 0;
    key[11] = 0;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: server_ip %r,mac %02X:%02X:%02X:%02X:%02X:%02X\n",
             __func__, __LINE__, &rule->server_ip, DHCPFTR_MAC_ARGS(rule->client_mac));
    uib_snmp_key_send(cli, key, DHCPFTR_SNMP_RULE_KEY_LEN);
    if (_dhcpftr_snmp_row_ports(cli, DHCPFTR_SNMP_COL_RULE_PORTS, &rule->portlist) == UIB_OUT_STOP)
        return UIB_OUT_STOP;
    if (_dhcpftr_snmp_row_number(cli, DHCPFTR_SNMP_COL_RULE_STATUS, DHCPFTR_SNMP_ROW_ACTIVE) == UIB_OUT_STOP)
        return UIB_OUT_STOP;
    return 0;
}

/* Returns 1 when the port of the ifindex in the row has screening enabled, else 0. */
int _dhcpftr_enable_port_get(void *row)
{
    uint32_t lport = if_ifindex_to_st_lport(*(uint32_t *)row);

    return PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, lport) ? 1 : 0;
}

/*
 * Finds the enabled port after the ifindex in the row, in logical-port order: the lowest enabled port for
 * ifindex 0. Returns 1 with that port's ifindex written into the row, or 0 with the row unchanged when there
 * is none.
 */
int _dhcpftr_enable_port_getnext(void *row)
{
    uint32_t *ifindex = (uint32_t *)row;
    int given = (int)if_ifindex_to_st_lport(*ifindex);
    uint32_t lport;

    if (PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db))
        return 0;
    if (*ifindex == 0) {
        *ifindex = if_st_lport_to_ifindex(PORTLIST_get_first_port(&dhcpftr_cfg_portlist_db, 0));
        return 1;
    }
    for (lport = 1; lport <= PORTLIST_MAX_PORT; lport++) {
        if (DHCPFTR_PORT_IS_SET(&dhcpftr_cfg_portlist_db, lport) && (int)lport > given) {
            *ifindex = if_st_lport_to_ifindex(lport);
            return 1;
        }
    }
    return 0;
}

/* Sends one enabled-port row: its 4-byte key (the ifindex, most significant byte first), then its status 1
 * (column 2). Returns UIB_OUT_STOP when the bridge asked to stop, else 0. */
int _dhcpftr_print_enable_ports(struct cli *cli, void *row)
{
    uint32_t ifindex = *(uint32_t *)row;
    uint8_t key[DHCPFTR_SNMP_PORT_KEY_LEN];

    key[0] = (uint8_t)(ifindex >> 24);
    key[1] = (uint8_t)(ifindex >> 16);
    key[2] = (uint8_t)(ifindex >> 8);
    key[3] = (uint8_t)ifindex;
    uib_snmp_key_send(cli, key, DHCPFTR_SNMP_PORT_KEY_LEN);
    if (_dhcpftr_snmp_row_number(cli, DHCPFTR_SNMP_COL_PORT_STATUS, DHCPFTR_SNMP_ROW_ACTIVE) == UIB_OUT_STOP)
        return UIB_OUT_STOP;
    return 0;
}

/* "show ip dhcp screening snmp": sends the trap/log state (1 enabled, 2 disabled, column 1) and the suppress
 * duration (column 2). Returns UIB_OUT_STOP as soon as the bridge asks to stop, else 0. */
int dhcp_screening_snmp_global_show(struct cli *cli, int argc, char **argv)
{
    int state = _dhcpftr_is_trap_enable() ? DHCPFTR_SNMP_TRAP_ENABLED : DHCPFTR_SNMP_TRAP_DISABLED;

    (void)argc;
    (void)argv;
    if (_dhcpftr_snmp_scalar(cli, DHCPFTR_SNMP_COL_TRAP_STATE, state) == UIB_OUT_STOP)
        return UIB_OUT_STOP;
    if (_dhcpftr_snmp_scalar(cli, DHCPFTR_SNMP_COL_TRAP_DURATION, (int)_dhcpftr_get_trap_duration()) ==
        UIB_OUT_STOP)
        return UIB_OUT_STOP;
    return 0;
}

/*
 * Checks that every port of a port list is a port or trunk interface that exists in the global interface
 * table of cli. Returns 1, or 0 after logging, as written by func at line, the first port that is not.
 */
static int _dhcpftr_snmp_ports_exist(const char *func, int line, struct cli *cli, PORTLIST_T *ports)
{
    char name[IF_NAME_BUF];
    uint32_t lport;
    uint32_t ifindex;

    memset(name, 0, sizeof(name));
    for (lport = 1; lport <= PORTLIST_MAX_PORT; lport++) {
        if (!DHCPFTR_PORT_IS_SET(ports, lport))
            continue;
        ifindex = if_st_lport_to_ifindex(lport);
        if (ifindex < IF_PHY_IFINDEX_MIN || ifindex > IF_TRUNK_IFINDEX_MAX) {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: interface %d is not supported\n", func,
                     line, ifindex);
            return 0;
        }
        if (ifg_lookup_by_index(cli->gctx->ift, ifindex) == 0) {
            if_utl_ifindex_to_ifname(ifindex, name);
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: interface %s is not existed\n", func,
                     line, name);
            return 0;
        }
    }
    return 1;
}

/*
 * "ip dhcp screening snmp A.B.C.D MAC" with 24 port-list words and an action: adds the ports of the words
 * to the rule of the key, creating the rule unless the action is "write". A rule is never created without
 * ports or for server 0.0.0.0. Returns 0 when done or when there is nothing to do, 1 when refused (a
 * malformed argument on the terminal, everything else in the log).
 */
int dhcpftr_snmp_cfg_permit_rule(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T ports;
    int32_t result = 0;
    int status = 0;
    int i;

    memset(&entry, 0, sizeof(entry));
    PORTLIST_clear_all(&entry.portlist);
    PORTLIST_clear_all(&ports);
    entry.server_ip = inet_addr(argv[0]);
    if (!dhcpftr_cli_scan_mac(cli, argv[1], entry.client_mac))
        return 1;
    if (strcmp(argv[argc - 1], DHCPFTR_SNMP_ACTION_WRITE) == 0 && Dhcpftr_DB_Get_Rule(&entry) == 0)
        return 0;
    for (i = 0; i <= argc - 1 - DHCPFTR_SNMP_RULE_NON_WORD_ARGS && i < PORTLIST_WORDS; i++) {
        ports.word[i] = (uint32_t)cmd_str2int(argv[i + DHCPFTR_SNMP_RULE_FIRST_WORD_ARG], &status);
        if (status < 0) {
            DHCPFTR_CLI_OUT(cli, "%% Invalid %s value\n", "Portlist translate");
            return 1;
        }
    }
    if (!_dhcpftr_snmp_ports_exist(__func__, __LINE__, cli, &ports))
        return 1;
    if (Dhcpftr_DB_Get_Rule(&entry) == 0) {
        if (entry.server_ip == 0) {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Invalid server ip %r\n", __func__,
                     __LINE__, &entry.server_ip);
            return 1;
        }
        if (PORTLIST_chk_empty(&ports)) {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Insert rule portlist is empty\n",
                     __func__, __LINE__);
            return 1;
        }
    }
    PORTLIST_copy(&entry.portlist, &ports);
    Dhcpftr_DB_Update_Rule(&entry, &result);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Insert rule status code %d\n", __func__, __LINE__,
             result);
    if (result == DHCPFTR_RET_DB_FULL) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Number of permit rule should not exceed %d\n",
                 __func__, __LINE__, DHCPFTR_MAX_RULES);
        return 1;
    }
    if (result == DHCPFTR_RET_NO_RESOURCE) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Resource unavailable\n", __func__, __LINE__);
        return 1;
    }
    return 0;
}

/*
 * "no ip dhcp screening snmp A.B.C.D MAC": deletes the rule of the key with all its ports. Returns 0 when
 * done (or when the kernel filter refused in a way only the log shows), 1 when the MAC text is refused, the
 * rule is not stored, or the kernel filter refused with -40 or is out of resources.
 */
int dhcpftr_snmp_cfg_del_permit_rule(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    DHCPFTR_PERMIT_RULE_ENTRY_T *stored;
    int32_t result = 0;

    (void)argc;
    memset(&entry, 0, sizeof(entry));
    PORTLIST_clear_all(&entry.portlist);
    entry.server_ip = inet_addr(argv[0]);
    if (!dhcpftr_cli_scan_mac(cli, argv[1], entry.client_mac))
        return 1;
    stored = Dhcpftr_DB_Get_Rule(&entry);
    if (stored == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Rule: ip %s, client mac %s not found\n",
                 __func__, __LINE__, argv[0], argv[1]);
        return 1;
    }
    PORTLIST_copy(&entry.portlist, &stored->portlist);
    Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
    if (result == DHCPFTR_SNMP_K_RET_DELETE_REFUSED)
        return 1;
    if (result == DHCPFTR_RET_NO_RESOURCE) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Resource unavailable\n", __func__, __LINE__);
        return 1;
    }
    return 0;
}

/* "show ip dhcp screening snmp A.B.C.D MAC": hands the permit-rule table, from the typed key, to the bridge.
 * Returns 1 when the MAC text is refused, else the bridge's result. */
int dhcpftr_snmp_show_permit_rule(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T row;
    UIB_TABLE_DESC_T table;

    (void)argc;
    memset(&row, 0, sizeof(row));
    row.server_ip = inet_addr(argv[0]);
    if (!dhcpftr_cli_scan_mac(cli, argv[1], row.client_mac))
        return 1;
    memset(&table, 0, sizeof(table));
    table.row = &row;
    table.get = _dhcpftr_permit_rule_get;
    table.getnext = _dhcpftr_permit_rule_getnext;
    table.print = _dhcpftr_print_permit_rule;
    return UIB_OUT_TABLE_ENTRIES(cli, &table);
}

/* "show ip dhcp screening snmp ports IFINDEX": hands the enabled-port table, from the typed ifindex (0 when
 * the text is no number), to the bridge. Returns the bridge's result. */
int dhcpftr_snmp_show_enable_port(struct cli *cli, int argc, char **argv)
{
    uint32_t row;
    UIB_TABLE_DESC_T table;

    (void)argc;
    row = (uint32_t)atoi(argv[0]);
    memset(&table, 0, sizeof(table));
    table.row = &row;
    table.get = _dhcpftr_enable_port_get;
    table.getnext = _dhcpftr_enable_port_getnext;
    table.print = _dhcpftr_print_enable_ports;
    return UIB_OUT_TABLE_ENTRIES(cli, &table);
}
