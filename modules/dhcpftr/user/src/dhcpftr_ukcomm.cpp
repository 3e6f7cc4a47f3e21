/*
 * The kernel channel exchange: message builders, the registration of the answer handler, the handler,
 * and the wait for an answer.
 */
#include "dhcpftr_ukcomm.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "dhcpftr_defs.h"
#include "dhcpftr_msg.h"
#include "qvlog.h"
#include "ukcomm.h"

/* One poll of the wait. */
#define DHCPFTR_POLL_USEC 100000
/* How long the wait looks for the answer before it sleeps; its shortest nap, and its longest. */
#define DHCPFTR_SPIN_USEC 50
#define DHCPFTR_NAP_MIN_USEC 20
#define DHCPFTR_NAP_MAX_USEC 10000
#define DHCPFTR_DEFAULT_WAIT_MAX_POLLS 100

std::atomic<uint32_t> dhcpftr_syn_flag(0);
int32_t dhcpftr_k_ret_value = 0;
uint32_t dhcpftr_wait_max_polls = DHCPFTR_DEFAULT_WAIT_MAX_POLLS;
int dhcpftr_wait_fixed_poll = 0;

/* Bit n: a wait for code n was given up and its answer has not been taken since. Only the commit's
 * context reads and writes it. */
static uint32_t dhcpftr_late_ops = 0;

/* Fills a rule message with op, the entry's port list and its key. */
void _dhcpftr_pack_set_rule_entry(DHCPFTR_U_RULE_MSG_T *msg, DHCPFTR_PERMIT_RULE_ENTRY_T *entry, uint32_t op)
{
    msg->op = op;
    PORTLIST_copy(&msg->portlist, &entry->portlist);
    msg->server_ip = entry->server_ip;
    memcpy(msg->client_mac, entry->client_mac, sizeof(msg->client_mac));
}

/* Fills a ports message with op and the port list. */
void _dhcpftr_pack_set_ports_entry(DHCPFTR_U_PORTS_MSG_T *msg, PORTLIST_T *ports, uint32_t op)
{
    msg->op = op;
    PORTLIST_copy(&msg->portlist, ports);
}

/* Fills a value message with op and the low byte of state. */
void _dhcpftr_pack_set_value_entry(DHCPFTR_U_VALUE_MSG_T *msg, uint32_t state, uint32_t op)
{
    msg->op = op;
    msg->value.trap.state = (uint8_t)(state & 0xFF);
}

/* Fills a value message with op and the minutes as a 32-bit word. */
void _dhcpftr_pack_set_duration_entry(DHCPFTR_U_VALUE_MSG_T *msg, uint32_t minutes, uint32_t op)
{
    msg->op = op;
    msg->value.duration = minutes;
}

/* Marks the answer for op as arrived; the result stored before becomes visible to the waiter. */
void _dhcpftr_set_syn_flag(uint32_t op)
{
    dhcpftr_syn_flag.fetch_or(1u << op, std::memory_order_release);
}

/* Consumes the answer mark of op. */
void _dhcpftr_clear_syn_flag(uint32_t op)
{
    dhcpftr_syn_flag.fetch_and(~(1u << op), std::memory_order_relaxed);
}

/* Returns the answer flag word masked to the bit of op: non-zero when its answer has arrived. */
uint32_t _dhcpftr_check_syn_flag(uint32_t op)
{
    return dhcpftr_syn_flag.load(std::memory_order_acquire) & (1u << op);
}

/* Clears the whole answer flag word. */
void _dhcpftr_clear_syn_value(void)
{
    dhcpftr_syn_flag.store(0, std::memory_order_relaxed);
}

void _dhcpftr_set_ret_value(int32_t ret)
{
    dhcpftr_k_ret_value = ret;
}

/* Returns the result of the most recent answer, after logging it. */
int32_t _dhcpftr_get_ret_value(void)
{
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: rx response %d\n", __func__, __LINE__,
             dhcpftr_k_ret_value);
    return dhcpftr_k_ret_value;
}

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

/*
 * Answer handler, called by the channel on its receive context. Answers with another message number, no
 * body or an operation code above 7 are ignored. Any other is recorded: its result first, then the bit of
 * its code, which the waiter sees at its next look. Never blocks. Returns 0.
 */
int Dhcpftr_U_value_msg_process(uint32_t msg_num, void *body, uint32_t length)
{
    DHCPFTR_K_VALUE_MSG_T answer;

    (void)length;
    if (msg_num != DHCPFTR_K_VALUE_MSG || body == 0)
        return 0;
    memcpy(&answer, body, sizeof(answer));
    if (answer.op > DHCPFTR_OP_MAX)
        return 0;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: rx response from kernel for %d\n", __func__,
             __LINE__, answer.op);
    _dhcpftr_set_ret_value(answer.ret);
    _dhcpftr_set_syn_flag(answer.op);
    return 0;
}

/*
 * Returns once the answer for op has arrived or deadline has passed; start is when the wait began. It looks
 * for the answer without sleeping for DHCPFTR_SPIN_USEC first, since the kernel filter usually answers
 * within microseconds and a sleep costs more than that. Then it sleeps in naps of an eighth of the time
 * waited so far (at least DHCPFTR_NAP_MIN_USEC, at most DHCPFTR_NAP_MAX_USEC): an answer is seen at most
 * an eighth later than it came, and a wait of ten seconds wakes about a thousand times.
 */
static void _dhcpftr_nap_for_answer(uint32_t op, std::chrono::steady_clock::time_point start,
                                    std::chrono::steady_clock::time_point deadline)
{
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point spin_end =
        std::min(deadline, now + std::chrono::microseconds(DHCPFTR_SPIN_USEC));
    int64_t waited;
    int64_t left;

    while (!_dhcpftr_check_syn_flag(op) && std::chrono::steady_clock::now() < spin_end)
        std::this_thread::yield();
    while (!_dhcpftr_check_syn_flag(op)) {
        now = std::chrono::steady_clock::now();
        left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
        if (left <= 0)
            return;
        waited = std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
        usleep((useconds_t)std::min(left, std::clamp<int64_t>(waited / 8, DHCPFTR_NAP_MIN_USEC,
                                                               DHCPFTR_NAP_MAX_USEC)));
    }
}

/*
 * Waits until the answer for op has arrived and returns its result, consuming the answer. Writes one
 * time-out line for every poll of 100 ms without the answer; after dhcpftr_wait_max_polls polls it gives
 * up and returns DHCPFTR_RET_TIMEOUT, and the answer of op is due from then on (_dhcpftr_late_answer_due).
 */
int _dhcpftr_wait_for_event(uint32_t op)
{
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point poll_end = start;
    uint32_t polls = 0;

    for (;;) {
        if (_dhcpftr_check_syn_flag(op)) {
            _dhcpftr_clear_syn_flag(op);
            return _dhcpftr_get_ret_value();
        }
        if (polls >= dhcpftr_wait_max_polls) {
            dhcpftr_late_ops |= 1u << op;
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                     "%s [%d]: no response from kernel for %d after %d polls, given up\n", __func__, __LINE__, op,
                     polls);
            return DHCPFTR_RET_TIMEOUT;
        }
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: time out %d times\n", __func__, __LINE__,
                 polls);
        if (dhcpftr_wait_fixed_poll) {
            usleep(DHCPFTR_POLL_USEC);
        } else {
            poll_end += std::chrono::microseconds(DHCPFTR_POLL_USEC);
            _dhcpftr_nap_for_answer(op, start, poll_end);
        }
        polls++;
    }
}

/*
 * Before a request with op is sent. An answer that comes after its wait was given up carries nothing that
 * tells it from the answer of a later request with the same code, so no request with op is sent until it
 * has come. Returns 1 while it is still due (after logging it; the request must not be sent), 0 otherwise,
 * after consuming the late answer when it has come since.
 */
int _dhcpftr_late_answer_due(uint32_t op)
{
    if ((dhcpftr_late_ops & (1u << op)) == 0)
        return 0;
    if (!_dhcpftr_check_syn_flag(op)) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: late response from kernel for %d still due, request not sent\n", __func__, __LINE__, op);
        return 1;
    }
    _dhcpftr_clear_syn_flag(op);
    dhcpftr_late_ops &= ~(1u << op);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: late response from kernel for %d dropped\n",
             __func__, __LINE__, op);
    return 0;
}
