/*
 * The user/kernel messages between the daemon and the kernel filter.
 *
 * Daemon and kernel filter run on the same processor and exchange plain memory images: every multi-byte
 * field is in the machine's own byte order, except the server address, which is held as its 4 bytes in
 * network order (dotted order) as everywhere in the daemon.
 */
#ifndef DHCPFTR_MSG_H
#define DHCPFTR_MSG_H

#include <stddef.h>
#include <stdint.h>

#include "dhcpftr_db.h"
#include "portlist.h"

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
#define DHCPFTR_OP_NUM 8

/* DHCPFTR_U_RULE_MSG: the ports to add to or remove from one rule; the key comes last. */
typedef struct {
    uint32_t op;             /* offset 0: DHCPFTR_OP_ADD_RULE, _DEL_RULE or _STK_DEL_RULE */
    PORTLIST_T portlist;     /* offset 4 */
    uint32_t server_ip;      /* offset 100: network byte order */
    uint8_t client_mac[6];   /* offset 104: all zero for all clients */
    uint8_t pad[2];          /* offset 110 */
} DHCPFTR_U_RULE_MSG_T;

/* DHCPFTR_U_PORTS_MSG: ports on which to enable or disable screening. */
typedef struct {
    uint32_t op;             /* offset 0: DHCPFTR_OP_ADD_PORTS, _DEL_PORTS or _STK_DEL_PORTS */
    PORTLIST_T portlist;     /* offset 4 */
} DHCPFTR_U_PORTS_MSG_T;

/* DHCPFTR_U_VALUE_MSG: the trap/log state as one byte (code 2) or the suppress duration (code 3). */
typedef struct {
    uint32_t op;             /* offset 0: DHCPFTR_OP_SET_TRAP or DHCPFTR_OP_SET_DURATION */
    union {
        struct {
            uint8_t state;   /* offset 4: 1 enable, 0 disable */
            uint8_t pad[3];
        } trap;
        uint32_t duration;   /* offset 4: minutes */
    } value;
} DHCPFTR_U_VALUE_MSG_T;

/* DHCPFTR_K_VALUE_MSG: the kernel filter's answer to one operation. */
typedef struct {
    uint32_t op;             /* offset 0: the operation code answered */
    int32_t ret;             /* offset 4: 0 done, anything else refused */
} DHCPFTR_K_VALUE_MSG_T;

static_assert(sizeof(DHCPFTR_U_RULE_MSG_T) == 112, "rule message is 112 bytes");
static_assert(offsetof(DHCPFTR_U_RULE_MSG_T, portlist) == 4, "rule ports at offset 4");
static_assert(offsetof(DHCPFTR_U_RULE_MSG_T, server_ip) == 100, "rule server at offset 100");
static_assert(offsetof(DHCPFTR_U_RULE_MSG_T, client_mac) == 104, "rule client MAC at offset 104");
static_assert(sizeof(DHCPFTR_U_PORTS_MSG_T) == 100, "ports message is 100 bytes");
static_assert(offsetof(DHCPFTR_U_PORTS_MSG_T, portlist) == 4, "ports at offset 4");
static_assert(sizeof(DHCPFTR_U_VALUE_MSG_T) == 8, "value message is 8 bytes");
static_assert(offsetof(DHCPFTR_U_VALUE_MSG_T, value.trap.state) == 4, "trap state at offset 4");
static_assert(offsetof(DHCPFTR_U_VALUE_MSG_T, value.duration) == 4, "duration at offset 4");
static_assert(sizeof(DHCPFTR_K_VALUE_MSG_T) == 8, "answer is 8 bytes");

/* Message builders: each fills a body owned by the caller; the value comes before the operation code. */
void _dhcpftr_pack_set_rule_entry(DHCPFTR_U_RULE_MSG_T *msg, DHCPFTR_PERMIT_RULE_ENTRY_T *entry, uint32_t op);
void _dhcpftr_pack_set_ports_entry(DHCPFTR_U_PORTS_MSG_T *msg, PORTLIST_T *ports, uint32_t op);
void _dhcpftr_pack_set_value_entry(DHCPFTR_U_VALUE_MSG_T *msg, uint32_t state, uint32_t op);
void _dhcpftr_pack_set_duration_entry(DHCPFTR_U_VALUE_MSG_T *msg, uint32_t minutes, uint32_t op);

#endif
