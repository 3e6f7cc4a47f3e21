/*
 * Topology events: interfaces added to and deleted from the interface table, and link-aggregation
 * membership changes.
 */
#include "dhcpftr_nsm.h"

#include "nsm_client.h"

/* Interface-add hook. Returns 0. */
int dhcpftr_nsm_vr_if_add(struct interface *ifp)
{
    (void)ifp;
    return 0;
}

/* Interface-delete hook. Returns 0. */
int dhcpftr_nsm_vr_if_del(struct interface *ifp)
{
    (void)ifp;
    return 0;
}

/* Handler of the link-aggregation notification: a port joined or left an aggregate. Returns 0. */
int Dhcpftr_Recv_Aggregator_Port_Config_NOTIFY_Handler(void *msg, void *arg)
{
    (void)msg;
    (void)arg;
    return 0;
}
