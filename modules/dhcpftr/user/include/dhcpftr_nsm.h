/* Topology events from the NSM client: interfaces added and deleted, link-aggregation membership. */
#ifndef DHCPFTR_NSM_H
#define DHCPFTR_NSM_H

#include "if_table.h"

int dhcpftr_nsm_vr_if_add(struct interface *ifp);
int dhcpftr_nsm_vr_if_del(struct interface *ifp);
int Dhcpftr_Recv_Aggregator_Port_Config_NOTIFY_Handler(void *msg, void *arg);
int Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add(uint32_t member_ifindex, char *agg_name, uint32_t info);
int Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Del(uint32_t member_ifindex, char *agg_name, uint32_t info);

#endif
