/*
 * User/kernel message channel.
 *
 * A message is a number and a body. UKCOMM_U_Send hands a body to the kernel side and returns without
 * waiting; it does not keep the pointer. Messages the kernel side sends are delivered, on the channel's own
 * receive context, to the handler registered for their number.
 */
#ifndef PLATFORM_UKCOMM_H
#define PLATFORM_UKCOMM_H

#include "platform_types.h"

/* Receive handler: message number, body, body length in bytes. */
typedef int (*UKCOMM_RX_FN)(uint32_t msg_num, void *body, uint32_t length);

PLATFORM_BEGIN_DECLS

/* Registers the handler of a message number; 0 on success. */
int UKCOMM_U_Reg(uint32_t msg_num, UKCOMM_RX_FN handler);
/* Sends a message to the kernel side; 0 when it was handed over. */
int UKCOMM_U_Send(uint32_t msg_num, void *body, uint32_t length);

PLATFORM_END_DECLS

#endif
