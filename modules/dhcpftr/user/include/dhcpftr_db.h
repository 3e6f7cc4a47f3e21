/*
 * The screening database: the permit-rule store and the process-wide screening settings.
 *
 * The store holds every permit rule the kernel filter has accepted, ordered by key (server address as an
 * unsigned number, then client MAC byte by byte). The settings are the enabled-port list, the present-port
 * list, the boot-time pending lists, the trap/log state and the suppress duration.
 */
#ifndef DHCPFTR_DB_H
#define DHCPFTR_DB_H

#include <stdint.h>

#include "avl.h"
#include "dhcpftr_defs.h"
#include "portlist.h"

/* A permit rule: the server that may answer, the client it may answer (all zero: every client) and the
 * ports on which it may do so. The key is (server_ip, client_mac). */
typedef struct {
    uint32_t server_ip;      /* IPv4 address as inet_addr gives it: its 4 bytes in network order */
    uint8_t client_mac[6];   /* first octet first; all zero for all clients */
    uint8_t reserved[2];
    PORTLIST_T portlist;
} DHCPFTR_PERMIT_RULE_ENTRY_T;

/* A permit-rule key waiting, during boot, for a trunk interface that does not exist yet. */
typedef struct dhcpftr_pending_rule {
    uint32_t server_ip;
    uint8_t client_mac[6];
    struct dhcpftr_pending_rule *next;  /* the next older node of the same list */
} DHCPFTR_PENDING_RULE_T;

/* Process-wide screening data. */
extern struct avl_tree *dhcpftr_permit_rule_db;          /* the permit-rule store; 0 until created */
extern PORTLIST_T dhcpftr_cfg_portlist_db;               /* enabled-port list */
extern PORTLIST_T dhcpftr_portlist_db;                   /* present-port list */
extern PORTLIST_T should_update_port;                    /* pending-enable list */
extern DHCPFTR_PENDING_RULE_T *temp_lacp_conf[DHCPFTR_TRUNK_NUM]; /* pending-rule lists, per trunk id */
extern int32_t dhcpftr_enable_trap;                      /* trap/log state: 1 on, 0 off */
extern uint32_t dhcpftr_trap_duration;                   /* suppress duration, minutes */

/* Store. */
int Dhcpftr_DB_Init(void);
int dhcpftr_permit_rule_db_avl_cmp(void *a, void *b);
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry);
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Rule_CloseNext(DHCPFTR_PERMIT_RULE_ENTRY_T *entry);
int Dhcpftr_DB_Insert_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry);
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_First_Rule(void);
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Next_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry);
int Dhcpftr_DB_Delete_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry);
int Dhcpftr_DB_is_empty(void);
int Dhcpftr_DB_entry_number(void);
void Dhcpftr_copy_rule_entry(DHCPFTR_PERMIT_RULE_ENTRY_T *dst, DHCPFTR_PERMIT_RULE_ENTRY_T *src);

/* Settings. */
int _dhcpftr_is_trap_enable(void);
void _dhcpftr_set_trap_state_enable(void);
void _dhcpftr_set_trap_state_disable(void);
uint32_t _dhcpftr_get_trap_duration(void);
void _dhcpftr_set_trap_duration(uint32_t minutes);

/* Pending-rule lists (stacks: the newest key is the head). */
void _dhcpftr_add_list_first(int trunk_id, DHCPFTR_PENDING_RULE_T *key);
DHCPFTR_PENDING_RULE_T *_dhcpftr_get_list_first(int trunk_id);
void _dhcpftr_remove_list_first(int trunk_id);
void dhcpftr_clear_temp_rule(void);

#endif
