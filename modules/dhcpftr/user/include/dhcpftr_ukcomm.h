/*
 * The kernel channel exchange.
 *
 * Every commit sends one message and waits until the kernel filter has answered that very operation code.
 * The answer handler runs on the channel's receive context: it stores the answer's result, then sets the
 * bit of the answered code in the answer flag word, and never blocks. The waiter looks at the flag word
 * itself and returns as soon as its bit is set; for every 100 ms that pass without the answer it writes
 * one time-out line, and after dhcpftr_wait_max_polls of them it gives up with DHCPFTR_RET_TIMEOUT. Until
 * the answer of a request that was given up has come, no request with its code is sent: each such commit
 * fails at once with DHCPFTR_RET_TIMEOUT, so a late answer is never taken for a later request's.
 */
#ifndef DHCPFTR_UKCOMM_H
#define DHCPFTR_UKCOMM_H

#include <stdint.h>

#include <atomic>

/* Answer state shared by the answer handler and the waiting sender. */
extern std::atomic<uint32_t> dhcpftr_syn_flag;  /* bit n: an answer for code n arrived, not yet consumed */
extern int32_t dhcpftr_k_ret_value;             /* result of the most recent answer */

/* Polls of 100 ms after which a wait gives up (default 100, ten seconds). */
extern uint32_t dhcpftr_wait_max_polls;
/* Non-zero: the wait sleeps whole polls of 100 ms instead of waking on the answer (for measurements). */
extern int dhcpftr_wait_fixed_poll;

int Dhcpftr_ukcomm_reg(void);
int Dhcpftr_U_value_msg_process(uint32_t msg_num, void *body, uint32_t length);
int _dhcpftr_wait_for_event(uint32_t op);
int _dhcpftr_late_answer_due(uint32_t op);

void _dhcpftr_set_syn_flag(uint32_t op);
void _dhcpftr_clear_syn_flag(uint32_t op);
uint32_t _dhcpftr_check_syn_flag(uint32_t op);
void _dhcpftr_clear_syn_value(void);
void _dhcpftr_set_ret_value(int32_t ret);
int32_t _dhcpftr_get_ret_value(void);

#endif
