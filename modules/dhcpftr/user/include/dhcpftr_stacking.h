/* The stacking service: the slot port table and the card callbacks. */
#ifndef DHCPFTR_STACKING_H
#define DHCPFTR_STACKING_H

#include <stdint.h>

#include "portlist.h"

/* Slots in the user's view, 1 to 10; entry s - 1 of the table holds slot s's 48 ports. */
#define DHCPFTR_SLOT_NUM 10

extern PORTLIST_T portlist_by_slot[DHCPFTR_SLOT_NUM];

void DHCPFTR_ST_Service_Init(void);
void _initlize_slot_port_db(void);
int DHCPFTR_ST_Hot_Insert_Cb(uint32_t arg);
int DHCPFTR_ST_Hot_Remove_Cb(int32_t phy_slot);
int DHCPFTR_ST_Master_Change_Cb(uint32_t arg);

#endif
