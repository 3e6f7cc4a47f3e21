/*
 * The command line: the command records and their installer, and the handlers of the configuration
 * commands. Each handler checks the operator's arguments, builds a port list or a permit-rule entry and
 * hands it to a commit, which reaches the kernel filter before the daemon's state changes.
 */
#include "dhcpftr_cli.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_portrange.h"
#include "dhcpftr_snmp.h"
#include "qvlog.h"

/* Help texts shared by several commands. */
#define DHCPFTR_HELP_SCREENING "Screening"
#define DHCPFTR_HELP_PORTS "Ports"
#define DHCPFTR_HELP_PORT_RANGE "Port Range"
#define DHCPFTR_HELP_DURATION "Set suppress-duration"
/* The help texts of "server-ip A.B.C.D [client-mac MAC] ports PORTRANGE". */
#define DHCPFTR_HELP_RULE_TAIL \
    "Server IP", "IP Address", "CLient MAC Address", "Mac-address in XX-XX-XX-XX-XX-XX format", DHCPFTR_HELP_PORTS, \
        DHCPFTR_HELP_PORT_RANGE

/* MAC format codes of cli_mac_address_is_valid. */
#define DHCPFTR_MAC_COLON 1
#define DHCPFTR_MAC_DOTTED 2
#define DHCPFTR_MAC_HYPHEN 3
#define DHCPFTR_MAC_PLAIN 4

/* Characters that mark the optional client-mac part among the arguments. */
#define DHCPFTR_CLIENT_MAC_KEYWORD "client-mac"
#define DHCPFTR_CLIENT_MAC_KEYWORD_LEN 10

/* The record of a command: its string, handler and help texts, five zero words. */
#define DHCPFTR_CLI_RECORD(handler, string) \
    static struct cli_element handler##_cli = {string, handler, handler##_cli_help, {0, 0, 0, 0, 0}}

static const char *interface_dhcp_filter_cli_help[] = {"Select an interface to configure", "Interface Name", 0};
DHCPFTR_CLI_RECORD(interface_dhcp_filter, "interface IFNAME");

static const char *dhcpftr_enable_port_cli_help[] = {DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING,
                                                     DHCPFTR_HELP_PORTS, DHCPFTR_HELP_PORT_RANGE, 0};
DHCPFTR_CLI_RECORD(dhcpftr_enable_port, "ip dhcp screening ports PORTRANGE");

static const char *dhcpftr_disable_port_cli_help[] = {DHCPFTR_HELP_NO,        DHCPFTR_HELP_IP,
                                                      DHCPFTR_HELP_DHCP,      DHCPFTR_HELP_SCREENING,
                                                      DHCPFTR_HELP_PORTS,     DHCPFTR_HELP_PORT_RANGE,
                                                      0};
DHCPFTR_CLI_RECORD(dhcpftr_disable_port, "no ip dhcp screening ports PORTRANGE");

static const char *dhcpftr_add_permit_rule_cli_help[] = {DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING,
                                                         DHCPFTR_HELP_RULE_TAIL, 0};
DHCPFTR_CLI_RECORD(dhcpftr_add_permit_rule, "ip dhcp screening server-ip A.B.C.D [client-mac MAC] ports PORTRANGE");

static const char *dhcpftr_remove_permit_rule_cli_help[] = {
    DHCPFTR_HELP_NO, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING, DHCPFTR_HELP_RULE_TAIL, 0};
DHCPFTR_CLI_RECORD(dhcpftr_remove_permit_rule,
                   "no ip dhcp screening server-ip A.B.C.D [client-mac MAC] ports PORTRANGE");

static const char *dhcpftr_enable_trap_log_cli_help[] = {DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING,
                                                         "Enable trap/log", 0};
DHCPFTR_CLI_RECORD(dhcpftr_enable_trap_log, "ip dhcp screening trap-log");

static const char *dhcpftr_disable_trap_log_cli_help[] = {DHCPFTR_HELP_NO,        DHCPFTR_HELP_IP,
                                                          DHCPFTR_HELP_DHCP,      DHCPFTR_HELP_SCREENING,
                                                          "Disable trap/log",     0};
DHCPFTR_CLI_RECORD(dhcpftr_disable_trap_log, "no ip dhcp screening trap-log");

static const char *dhcpftr_set_trap_duration_cli_help[] = {DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING,
                                                           DHCPFTR_HELP_DURATION, "Minutes", 0};
DHCPFTR_CLI_RECORD(dhcpftr_set_trap_duration, "ip dhcp screening suppress-duration <1-30>");

static const char *dhcpftr_set_trap_duration_default_cli_help[] = {
    DHCPFTR_HELP_NO, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP, DHCPFTR_HELP_SCREENING, DHCPFTR_HELP_DURATION, 0};
DHCPFTR_CLI_RECORD(dhcpftr_set_trap_duration_default, "no ip dhcp screening suppress-duration");

static const char *dhcpftr_show_cli_help[] = {DHCPFTR_HELP_SHOW, DHCPFTR_HELP_IP, DHCPFTR_HELP_DHCP,
                                              DHCPFTR_HELP_SCREENING, 0};
DHCPFTR_CLI_RECORD(dhcpftr_show, "show ip dhcp screening");

static const char *dhcpftr_dbg_show_portlist_cli_help[] = {DHCPFTR_HELP_SHOW,      DHCPFTR_HELP_IP,
                                                           DHCPFTR_HELP_DHCP,      DHCPFTR_HELP_SCREENING,
                                                           DHCPFTR_HELP_PORTS,     0};
DHCPFTR_CLI_RECORD(dhcpftr_dbg_show_portlist, "show ip dhcp screening portlist");

/* The commands installed with a mode and a level, in their order of installation. */
static const struct {
    struct cli_element *cel;
    int mode;
    int level;
} dhcpftr_cli_table[] = {
    {&dhcpftr_enable_port_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_disable_port_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_add_permit_rule_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_remove_permit_rule_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_enable_trap_log_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_disable_trap_log_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_set_trap_duration_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_set_trap_duration_default_cli, CONFIG_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_show_cli, EXEC_MODE, CLI_PRIVILEGE_NORMAL},
    {&dhcpftr_dbg_show_portlist_cli, EXEC_MODE, CLI_PRIVILEGE_MAX},
    {&dhcp_screening_snmp_global_show_cmd, EXEC_MODE, CLI_PRIVILEGE_MAX},
    {&dhcpftr_snmp_cfg_permit_rule_cmd, CONFIG_MODE, CLI_PRIVILEGE_MAX},
    {&dhcpftr_snmp_cfg_del_permit_rule_cmd, CONFIG_MODE, CLI_PRIVILEGE_MAX},
    {&dhcpftr_snmp_show_enable_port_cmd, EXEC_MODE, CLI_PRIVILEGE_MAX},
    {&dhcpftr_snmp_show_permit_rule_cmd, EXEC_MODE, CLI_PRIVILEGE_MAX},
};

/*
 * Command installer, called by the start-up framework with its context: the running-configuration writer
 * and the reset, "interface IFNAME", then every command of the table. Returns 0.
 */
int Dhcpftr_CLI_Init(struct qv_init_ctx *ctx)
{
    struct cli_tree *ctree = ctx->ctree;
    size_t i;

    cli_install_config(ctree, DHCPFTR_CLI_CONFIG_ORDER, dhcpftr_cli_config_write);
    cli_install_reset(ctree, dhcpftr_cli_config_reset);
    cli_install(ctree, CONFIG_MODE, &interface_dhcp_filter_cli);
    for (i = 0; i < sizeof(dhcpftr_cli_table) / sizeof(dhcpftr_cli_table[0]); i++)
        cli_install_gen(ctree, dhcpftr_cli_table[i].mode, dhcpftr_cli_table[i].level, 0, dhcpftr_cli_table[i].cel);
    return 0;
}

/* "interface IFNAME": makes the interface's record (fetched, or for a VLAN only looked up) the current
 * interface and enters its configuration mode. */
int interface_dhcp_filter(struct cli *cli, int argc, char **argv)
{
    const char *name = argv[0];

    (void)argc;
    if (if_check_if_type_by_ifname(name) == IF_TYPE_VLAN)
        cli->current_if = ifg_lookup_by_name(cli->gctx->ift, name);
    else
        cli->current_if = ifg_get_by_name(cli->gctx->ift, name);
    cli->mode = cli_get_ifmode(name);
    return 0;
}

/* Prints the message of a commit result that the operator sees; returns the handler's result. */
static int _dhcpftr_port_result(struct cli *cli, int32_t result)
{
    if (result == DHCPFTR_RET_NO_RESOURCE) {
        DHCPFTR_CLI_OUT(cli, "%% Resource unavailable\n");
        return 1;
    }
    return 0;
}

/* "ip dhcp screening ports PORTRANGE": enables screening on the range's ports. */
int dhcpftr_enable_port(struct cli *cli, int argc, char **argv)
{
    PORTLIST_T ports;
    int32_t result = 0;

    (void)argc;
    PORTLIST_clear_all(&ports);
    if (!_dhcpftr_port_range_to_portlist(cli, argv[0], &ports, 0))
        return 1;
    Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
    if (result == 0)
        PORTLIST_or(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);
    return _dhcpftr_port_result(cli, result);
}

/*
 * "no ip dhcp screening ports PORTRANGE": disables screening on the range's ports. A trunk that the range
 * names while booting and that does not exist yet is taken out of the pending-enable list rather than put
 * into it: disabling never enables.
 */
int dhcpftr_disable_port(struct cli *cli, int argc, char **argv)
{
    PORTLIST_T ports;
    PORTLIST_T pending;
    int32_t result = 0;
    int converted;

    (void)argc;
    PORTLIST_copy(&pending, &should_update_port);
    PORTLIST_clear_all(&should_update_port);
    PORTLIST_clear_all(&ports);
    converted = _dhcpftr_port_range_to_portlist(cli, argv[0], &ports, 0);
    PORTLIST_maskout(&should_update_port, &pending, &should_update_port);
    if (!converted)
        return 1;
    Dhcpftr_DB_Delete_Ports_to_K(&ports, &result);
    if (result == 0)
        PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);
    return _dhcpftr_port_result(cli, result);
}

/* Scans a MAC text in one of the four forms into mac. Returns 1 when it is one, 0 when it is not. */
static int _dhcpftr_scan_mac(const char *text, uint8_t *mac)
{
    unsigned short v[6];
    int format = 0;
    int i;

    memset(v, 0, sizeof(v));
    if (cli_mac_address_is_valid(text, &format) == 1)
        return 0;
    switch (format) {
    case DHCPFTR_MAC_DOTTED:
        if (sscanf(text, "%4hx.%4hx.%4hx", &v[0], &v[1], &v[2]) < 3)
            return 0;
        for (i = 0; i < 3; i++) {
            mac[2 * i] = (uint8_t)(v[i] >> 8);
            mac[2 * i + 1] = (uint8_t)(v[i] & 0xFF);
        }
        return 1;
    case DHCPFTR_MAC_COLON:
        if (sscanf(text, "%2hx:%2hx:%2hx:%2hx:%2hx:%2hx", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) < 6)
            return 0;
        break;
    case DHCPFTR_MAC_HYPHEN:
        if (sscanf(text, "%2hx-%2hx-%2hx-%2hx-%2hx-%2hx", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) < 6)
            return 0;
        break;
    case DHCPFTR_MAC_PLAIN:
        if (sscanf(text, "%2hx%2hx%2hx%2hx%2hx%2hx", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) < 6)
            return 0;
        break;
    default:
        return 0;
    }
    for (i = 0; i < 6; i++)
        mac[i] = (uint8_t)(v[i] & 0xFF);
    return 1;
}

/* Converts the MAC text of a rule command into the six bytes of mac. Returns 1, or 0 after printing on the
 * terminal of cli that the text is refused (mac is then undefined). */
int dhcpftr_cli_scan_mac(struct cli *cli, const char *text, uint8_t *mac)
{
    if (_dhcpftr_scan_mac(text, mac))
        return 1;
    DHCPFTR_CLI_OUT(cli, "%% Unable to translate %s %s\n", "mac address", text);
    return 0;
}

/* Reads the optional client MAC of a rule command (arguments 2 and 3) into mac; without it mac stays all
 * zero. Returns 1, or 0 after printing why the MAC text is refused. */
static int _dhcpftr_read_client_mac(struct cli *cli, int argc, char **argv, uint8_t *mac)
{
    if (argc <= 2 || strncmp(argv[1], DHCPFTR_CLIENT_MAC_KEYWORD, DHCPFTR_CLIENT_MAC_KEYWORD_LEN) != 0)
        return 1;
    return dhcpftr_cli_scan_mac(cli, argv[2], mac);
}

/* Non-zero when a server address (first octet most significant) can be no DHCP server's. */
static int _dhcpftr_server_ip_refused(uint32_t h)
{
    uint32_t first = h >> 24;

    if ((h >> 28) == 0xF || (h >> 28) == 0xE)
        return 1;
    if ((h & 0xFFFF0000u) == 0xA9FE0000u)
        return 1;
    if (first == 0 || first == 127)
        return 1;
    if ((h & 0x00FFFFFFu) == 0x00FFFFFFu || (h & 0x0000FFFFu) == 0x0000FFFFu || (h & 0xFFu) == 0xFFu)
        return 1;
    return check_ip4_host_addr(h) != DHCPFTR_IP4_OK;
}

/* Prints the message of a rule commit result that the operator sees; returns the handler's result. */
static int _dhcpftr_rule_result(struct cli *cli, int32_t result)
{
    if (result == DHCPFTR_RET_DB_FULL) {
        DHCPFTR_CLI_OUT(cli, "%% Number of permit rule should not exceed %d\n", DHCPFTR_MAX_RULES);
        return 1;
    }
    return _dhcpftr_port_result(cli, result);
}

/*
 * "ip dhcp screening server-ip A.B.C.D [client-mac MAC] ports PORTRANGE": permits the server to answer the
 * client (all clients without client-mac) on the range's ports, added to the ports of an existing rule.
 */
int dhcpftr_add_permit_rule(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    DHCPFTR_PENDING_RULE_T key;
    int32_t result = 0;

    memset(&entry, 0, sizeof(entry));
    memset(&key, 0, sizeof(key));
    PORTLIST_clear_all(&entry.portlist);
    entry.server_ip = inet_addr(argv[0]);
    if (_dhcpftr_server_ip_refused(ntohl(entry.server_ip))) {
        DHCPFTR_CLI_OUT(cli, "%% Invalid IPv4 address\n");
        return 1;
    }
    if (!_dhcpftr_read_client_mac(cli, argc, argv, entry.client_mac))
        return 1;
    key.server_ip = entry.server_ip;
    memcpy(key.client_mac, entry.client_mac, sizeof(key.client_mac));
    if (!_dhcpftr_port_range_to_portlist(cli, argv[argc - 1], &entry.portlist, &key))
        return 1;
    if (PORTLIST_chk_empty(&entry.portlist)) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Insert rule portlist is empty\n", __func__,
                 __LINE__);
        return 1;
    }
    Dhcpftr_DB_Update_Rule(&entry, &result);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Insert rule status code %d\n", __func__, __LINE__,
             result);
    return _dhcpftr_rule_result(cli, result);
}

/*
 * "no ip dhcp screening server-ip A.B.C.D [client-mac MAC] ports PORTRANGE": takes the range's ports out of
 * the rule, which disappears with its last port. A missing rule is no error. The pending-enable list is left
 * as it was: removing a rule never enables a port.
 */
int dhcpftr_remove_permit_rule(struct cli *cli, int argc, char **argv)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T pending;
    int32_t result = 0;
    int converted;

    memset(&entry, 0, sizeof(entry));
    entry.server_ip = inet_addr(argv[0]);
    if (!_dhcpftr_read_client_mac(cli, argc, argv, entry.client_mac))
        return 1;
    PORTLIST_copy(&pending, &should_update_port);
    converted = _dhcpftr_port_range_to_portlist(cli, argv[argc - 1], &entry.portlist, 0);
    PORTLIST_copy(&should_update_port, &pending);
    if (!converted)
        return 1;
    Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
    return _dhcpftr_port_result(cli, result);
}

/* "ip dhcp screening trap-log": turns the trap/log on; nothing is sent when it is on already. */
int dhcpftr_enable_trap_log(struct cli *cli, int argc, char **argv)
{
    (void)cli;
    (void)argc;
    (void)argv;
    if (!_dhcpftr_is_trap_enable())
        Dhcpftr_DB_Set_Trap_to_K(1);
    return 0;
}

/* "no ip dhcp screening trap-log": turns the trap/log off; nothing is sent when it is off already. */
int dhcpftr_disable_trap_log(struct cli *cli, int argc, char **argv)
{
    (void)cli;
    (void)argc;
    (void)argv;
    if (_dhcpftr_is_trap_enable())
        Dhcpftr_DB_Set_Trap_to_K(0);
    return 0;
}

/* "ip dhcp screening suppress-duration <1-30>": sets the suppress duration in minutes. */
int dhcpftr_set_trap_duration(struct cli *cli, int argc, char **argv)
{
    (void)cli;
    (void)argc;
    Dhcpftr_DB_Set_Trap_duration_to_K((uint32_t)atoi(argv[0]));
    return 0;
}

/* "no ip dhcp screening suppress-duration": sets the default suppress duration of 10 minutes. */
int dhcpftr_set_trap_duration_default(struct cli *cli, int argc, char **argv)
{
    (void)cli;
    (void)argc;
    (void)argv;
    Dhcpftr_DB_Set_Trap_duration_to_K(DHCPFTR_DEFAULT_TRAP_DURATION);
    return 0;
}
