/*
 * Start-up and registration: the module initialiser, the NSM client start and its start-up callback, and
 * the query of the platform's boot state.
 */
#ifndef DHCPFTR_INIT_H
#define DHCPFTR_INIT_H

#include <stdint.h>

#include "nsm_client.h"
#include "qv_init.h"

/* NSM registration data. */
extern uint32_t myProtoInfo;
extern NSM_NOTIFY_HDLR_T lacpNotifyHdlr[1];
extern NSM_INC_MODULE_T DhcpftrIncModlList[1];
extern struct nsm_globals *dhcpftr_zg;

int Dhcpftr_Init(uint32_t arg1, uint32_t arg2);
int NSM_USER_Init_Nsm_Client(uint32_t arg);
int Dhcpftr_Nsm_Init(struct nsm_globals *ng);
int DHCPFTR_Get_Reboot_Ready(void);
void _dhcpftr_fill_init_record(QV_INIT_T *rec);

#endif
