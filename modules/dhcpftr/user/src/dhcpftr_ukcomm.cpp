/*
 * The kernel channel exchange: the registration of the handler of the kernel filter's answers, and the
 * handler itself.
 */
#include "dhcpftr_ukcomm.h"

#include "dhcpftr_defs.h"
#include "dhcpftr_msg.h"
#include "qvlog.h"
#include "ukcomm.h"

/* Registers the answer handler for the kernel filter's answers. Returns 0 on success, -1 on failure. */
int Dhcpftr_ukcomm_reg(void)
{
    if (UKCOMM_U_Reg(DHCPFTR_K_VALUE_MSG, Dhcpftr_U_value_msg_process) != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Register Rx DHCPFTR_K_VALUE_MSG failed\n",
                 __func__, __LINE__);
        return -1;
    }
    return 0;
}

/* Answer handler, called by the channel on its receive context for every answer message. Returns 0. */
int Dhcpftr_U_value_msg_process(uint32_t msg_num, void *body, uint32_t length)
{
    (void)msg_num;
    (void)body;
    (void)length;
    return 0;
}
