/*
 * Commits: every change of the screening configuration goes to the kernel filter first, and only an
 * accepted change reaches the daemon's own state. Each commit sends one message, waits for the kernel
 * filter's answer and writes its result (DHCPFTR_RET_*, or the kernel filter's own value).
 */
#ifndef DHCPFTR_DB_COMMIT_H
#define DHCPFTR_DB_COMMIT_H

#include <stdint.h>

#include "dhcpftr_db.h"

/* Rules: add the entry's ports to its rule (creating the rule), or take them out of it (deleting the rule
 * with its last port). The entry is only read. */
void Dhcpftr_DB_Update_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result);
void Dhcpftr_DB_Delete_Rule_to_K(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result);
void Dhcpftr_DB_Stk_Delete_Rule_to_K(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result);

/* Enabled ports: tell the kernel filter only; the caller keeps the enabled-port list in step. */
void Dhcpftr_DB_Update_Ports_to_K(PORTLIST_T *ports, int32_t *result);
void Dhcpftr_DB_Delete_Ports_to_K(PORTLIST_T *ports, int32_t *result);
void Dhcpftr_Stk_DB_Delete_Ports_to_K(PORTLIST_T *ports, int32_t *result);

/* Settings: the daemon's setting follows an accepted change. */
void Dhcpftr_DB_Set_Trap_to_K(uint32_t state);
void Dhcpftr_DB_Set_Trap_duration_to_K(uint32_t minutes);

#endif
