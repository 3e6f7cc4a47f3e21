/*
 * Port-list text: a port list printed as compact ranges of interface names ("eth1.1-1.3,eth1.5"), handed
 * out piece by piece to a callback so that the same walk serves the terminal and the log.
 */
#ifndef DHCPFTR_PORTLIST_H
#define DHCPFTR_PORTLIST_H

#include "cli.h"
#include "portlist.h"

/* Receives one piece of port-list text. */
typedef void (*DHCPFTR_PORT_TEXT_FN)(const char *text, void *arg);

void _dhcpftr_portlist_to_str(PORTLIST_T *ports, DHCPFTR_PORT_TEXT_FN callback, void *arg);

/* Prints the port-list text of a list and "\n" on the terminal of the command context; an empty list
 * prints only "\n". */
void dhcpftr_print_ports_cli(PORTLIST_T *ports, struct cli *cli);
void _dhcpftr_print_ports_cli(const char *text, void *cli);

/* Writes a port list into the log as port-list text, piece by piece at level 101 with flag 1. */
void dhcpftr_print_ports_u(PORTLIST_T *ports);
void _dhcpftr_print_ports_u(const char *text, void *arg);

/* Non-zero when lport is set in the list, tested on the word's value (port 1 is bit 31 of word 0). */
#define DHCPFTR_PORT_IS_SET(list, lport) \
    (((list)->word[PORTLIST_WORD_OF(lport)] & PORTLIST_MASK_OF(lport)) != 0)

#endif
