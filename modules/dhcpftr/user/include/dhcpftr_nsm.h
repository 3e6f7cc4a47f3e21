/* Topology events from the NSM client: interfaces added and deleted, link-aggregation membership. */
#ifndef DHCPFTR_NSM_H
#define DHCPFTR_NSM_H

#include "if_table.h"

int dhcpftr_nsm_vr_if_add(struct interface *ifp);
int dhcpftr_nsm_vr_if_del(struct interface *ifp);
int Dhcpftr_Recv_Aggregator_Port_Config_NOTIFY_Handler(void *msg, void *arg);

#endif
