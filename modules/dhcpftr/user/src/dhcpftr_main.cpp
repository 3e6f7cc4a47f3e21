/*
 * Process entry: hands the start-up framework the daemon's start-up record, and the framework owns the
 * process from then on.
 */
#include "dhcpftr_cli.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "qv_init.h"

/* Framework flag set in the start-up record. */
#define DHCPFTR_QV_INIT_FLAG 1

int main(int argc, char **argv)
{
    QV_INIT_T *rec;

    (void)argc;
    (void)argv;
    rec = QV_INIT_alloc();
    if (rec == 0)
        return 1;
    rec->module_id = DHCPFTR_MODULE_ID;
    rec->flag = DHCPFTR_QV_INIT_FLAG;
    rec->cli_init = Dhcpftr_CLI_Init;
    rec->nsm_init = NSM_USER_Init_Nsm_Client;
    rec->mod_init = Dhcpftr_Init;
    QV_INIT_Sys_Init(rec);
    return 0;
}
