/* The kernel channel exchange: registration of the answer handler and the answer handler itself. */
#ifndef DHCPFTR_UKCOMM_H
#define DHCPFTR_UKCOMM_H

#include <stdint.h>

int Dhcpftr_ukcomm_reg(void);
int Dhcpftr_U_value_msg_process(uint32_t msg_num, void *body, uint32_t length);

#endif
