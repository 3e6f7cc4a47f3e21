/*
 * The user/kernel messages between the daemon and the kernel filter: message numbers and operation codes.
 */
#ifndef DHCPFTR_MSG_H
#define DHCPFTR_MSG_H

/* Channel message numbers. */
#define DHCPFTR_U_RULE_MSG 90   /* daemon to kernel: a permit rule's key and ports */
#define DHCPFTR_U_PORTS_MSG 91  /* daemon to kernel: screening ports */
#define DHCPFTR_U_VALUE_MSG 92  /* daemon to kernel: one setting */
#define DHCPFTR_K_VALUE_MSG 93  /* kernel to daemon: the answer */

/* Operation codes; each is also the bit of the answer flag word that its sender waits on. */
#define DHCPFTR_OP_ADD_RULE 0
#define DHCPFTR_OP_DEL_RULE 1
#define DHCPFTR_OP_SET_TRAP 2
#define DHCPFTR_OP_SET_DURATION 3
#define DHCPFTR_OP_ADD_PORTS 4
#define DHCPFTR_OP_DEL_PORTS 5
#define DHCPFTR_OP_STK_DEL_PORTS 6
#define DHCPFTR_OP_STK_DEL_RULE 7
#define DHCPFTR_OP_MAX 7

#endif
