/*
 * Port-list text.
 *
 * Ports are walked from 1 to 768. A run is a series of set, named ports with consecutive ifindexes; it
 * prints as the first name, "-" and the short form of the last name. Pieces are joined by ",". A set port
 * whose ifindex has no name is left out: it neither extends nor closes a run.
 */
#include "dhcpftr_portlist.h"

#include <string.h>

#include "dhcpftr_defs.h"
#include "if_table.h"
#include "qvlog.h"

/* Characters of a run's end: "-", a name, "," and the terminator. */
#define DHCPFTR_PIECE_BUF (IF_NAME_BUF + 2)
/* Length of the "port-channel" prefix that the short form of a trunk name drops. */
#define DHCPFTR_LONG_PREFIX_LEN 12
#define DHCPFTR_ETH_PREFIX_LEN 3

/* The short form of a name: without "eth", or without its first 12 characters, or else the whole name. */
static const char *_dhcpftr_short_ifname(const char *name)
{
    if (strncmp(name, "eth", DHCPFTR_ETH_PREFIX_LEN) == 0)
        return name + DHCPFTR_ETH_PREFIX_LEN;
    if (strlen(name) > DHCPFTR_LONG_PREFIX_LEN)
        return name + DHCPFTR_LONG_PREFIX_LEN;
    return name;
}

/* Emits the end of a run: "-" and the short form of its last name, then "," when another piece follows. */
static void _dhcpftr_emit_run_end(const char *run_end, int more, DHCPFTR_PORT_TEXT_FN callback, void *arg)
{
    char piece[DHCPFTR_PIECE_BUF];
    const char *tail = _dhcpftr_short_ifname(run_end);
    size_t length = strnlen(tail, IF_NAME_MAX);

    piece[0] = '-';
    memcpy(piece + 1, tail, length);
    if (more)
        piece[++length] = ',';
    piece[length + 1] = '\0';
    callback(piece, arg);
}

/* Writes the port-list text of ports as a series of callback(piece, arg) calls; none for an empty list. */
void _dhcpftr_portlist_to_str(PORTLIST_T *ports, DHCPFTR_PORT_TEXT_FN callback, void *arg)
{
    char name[IF_NAME_BUF];
    char run_end[IF_NAME_BUF];
    uint32_t first_ifindex = 0;
    uint32_t next_ifindex = 0;
    uint32_t ifindex;
    uint32_t lport;

    memset(run_end, 0, sizeof(run_end));
    for (lport = 1; lport <= PORTLIST_MAX_PORT; lport++) {
        if (!DHCPFTR_PORT_IS_SET(ports, lport))
            continue;
        ifindex = if_st_lport_to_ifindex(lport);
        memset(name, 0, sizeof(name));
        if (if_utl_ifindex_to_ifname(ifindex, name) == -1)
            continue;
        if (ifindex == next_ifindex) {
            memcpy(run_end, name, sizeof(run_end));
            next_ifindex = ifindex + 1;
            continue;
        }
        if (first_ifindex != 0) {
            if (run_end[0] != '\0') {
                _dhcpftr_emit_run_end(run_end, 1, callback, arg);
                memset(run_end, 0, sizeof(run_end));
            } else {
                callback(",", arg);
            }
        }
        callback(name, arg);
        first_ifindex = ifindex;
        next_ifindex = ifindex + 1;
    }
    if (run_end[0] != '\0')
        _dhcpftr_emit_run_end(run_end, 0, callback, arg);
}

/* Terminal callback of the port-list text: one piece, printed on the command context's terminal. */
void _dhcpftr_print_ports_cli(const char *text, void *arg)
{
    struct cli *cli = (struct cli *)arg;

    cli->out(cli->out_target, "%s", text);
}

void dhcpftr_print_ports_cli(PORTLIST_T *ports, struct cli *cli)
{
    _dhcpftr_portlist_to_str(ports, _dhcpftr_print_ports_cli, cli);
    cli->out(cli->out_target, "\n");
}

/* Log callback of the port-list text: one piece, continuing the current log line. */
void _dhcpftr_print_ports_u(const char *text, void *arg)
{
    (void)arg;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 1, "%s", text);
}

void dhcpftr_print_ports_u(PORTLIST_T *ports)
{
    _dhcpftr_portlist_to_str(ports, _dhcpftr_print_ports_u, 0);
}
