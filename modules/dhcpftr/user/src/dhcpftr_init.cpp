/*
 * Start-up and registration.
 *
 * The daemon has no main loop: the start-up framework calls its three entry points, the NSM client library
 * calls the NSM start-up callback once the client is up, and every later piece of work arrives as a call
 * from a platform library.
 */
#include "dhcpftr_init.h"

#include "dhcpftr_cli.h"
#include "dhcpftr_db.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_nsm.h"
#include "dhcpftr_stacking.h"
#include "dhcpftr_ukcomm.h"
#include "nsm_client.h"
#include "procm.h"
#include "qvlog.h"

/* Framework flag set in the start-up record. */
#define DHCPFTR_QV_INIT_FLAG 1

/* NSM services the daemon subscribes to. */
#define DHCPFTR_NSM_SERVICE_FIRST 0
#define DHCPFTR_NSM_SERVICE_SECOND 38

/* Protocol id under which the daemon registers with the NSM client library. */
uint32_t myProtoInfo = DHCPFTR_MODULE_ID;

/* The one notification of the link-aggregation module the daemon wants: a port joined or left a group. */
NSM_NOTIFY_HDLR_T lacpNotifyHdlr[1] = {
    {NSM_LACP_NOTIFY_AGG_PORT_CONFIG, Dhcpftr_Recv_Aggregator_Port_Config_NOTIFY_Handler},
};

/* The other modules whose notifications the daemon wants. */
NSM_INC_MODULE_T DhcpftrIncModlList[1] = {
    {"LACP", 0, lacpNotifyHdlr, 1},
};

/* The NSM globals of the first NSM start-up callback; written once. */
struct nsm_globals *dhcpftr_zg = 0;

/*
 * Module initialiser, called by the start-up framework (its two arguments are not used): creates the
 * screening database and registers the handler of the kernel filter's answers. A failed registration is
 * logged and start-up goes on. Returns 1.
 */
int Dhcpftr_Init(uint32_t arg1, uint32_t arg2)
{
    (void)arg1;
    (void)arg2;
    Dhcpftr_DB_Init();
    if (Dhcpftr_ukcomm_reg() != 0)
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Register ukcomm failed\n", __func__,
                 __LINE__);
    return 1;
}

/*
 * NSM client start, called by the start-up framework with an argument that is passed on unchanged.
 * Returns 1 when the NSM client library accepted the registration, else 0.
 */
int NSM_USER_Init_Nsm_Client(uint32_t arg)
{
    int ret;

    ret = NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client(arg, &myProtoInfo, DhcpftrIncModlList, 1,
                                                                 Dhcpftr_Nsm_Init);
    return ret == 0 ? 1 : 0;
}

/*
 * NSM start-up callback: keeps the first NSM globals, subscribes to the two NSM services with the stacking
 * registration between them, adds the interface-add hook and then the interface-delete hook, and empties
 * the pending-enable list. Returns 0.
 */
int Dhcpftr_Nsm_Init(struct nsm_globals *ng)
{
    if (dhcpftr_zg == 0)
        dhcpftr_zg = ng;
    nsm_client_set_service(ng->nc, DHCPFTR_NSM_SERVICE_FIRST);
    DHCPFTR_ST_Service_Init();
    nsm_client_set_service(ng->nc, DHCPFTR_NSM_SERVICE_SECOND);
    if_add_hook(ng->ift, NSM_IF_HOOK_ADD, dhcpftr_nsm_vr_if_add);
    if_add_hook(ng->ift, NSM_IF_HOOK_DELETE, dhcpftr_nsm_vr_if_del);
    PORTLIST_clear_all(&should_update_port);
    return 0;
}

/* Returns the platform's system-ready flag: 0 while the switch boots, non-zero once it is ready. */
int DHCPFTR_Get_Reboot_Ready(void)
{
    int ready = 0;

    PROCM_Get_System_Ready(&ready);
    return ready;
}

/* Fills the start-up record with the daemon's module id, flag and its three entry points; the framework's
 * own words are left as they are. */
void _dhcpftr_fill_init_record(QV_INIT_T *rec)
{
    rec->module_id = DHCPFTR_MODULE_ID;
    rec->flag = DHCPFTR_QV_INIT_FLAG;
    rec->cli_init = Dhcpftr_CLI_Init;
    rec->nsm_init = NSM_USER_Init_Nsm_Client;
    rec->mod_init = Dhcpftr_Init;
}
