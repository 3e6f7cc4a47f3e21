/*
 * The kernel channel exchange: message builders, the registration of the answer handler, the handler,
 * and the wait for an answer.
 */
#include "dhcpftr_ukcomm.h"

#include <string.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "dhcpftr_defs.h"
#include "dhcpftr_msg.h"
#include "qvlog.h"
#include "ukcomm.h"

/* One poll of the wait. */
#define DHCPFTR_POLL_USEC 100000
/* How long the wait looks for the answer before it sleeps. */
#define DHCPFTR_SPIN_USEC 50
#define DHCPFTR_DEFAULT_WAIT_MAX_POLLS 100

std::atomic<uint32_t> dhcpftr_syn_flag(0);
int32_t dhcpftr_k_ret_value = 0;
uint32_t dhcpftr_wait_max_polls = DHCPFTR_DEFAULT_WAIT_MAX_POLLS;
int dhcpftr_wait_fixed_poll = 0;

/* The waiter sleeps on dhcpftr_answer_cond; the handler takes dhcpftr_answer_lock to record an answer, so
 * that a waiter giving up and an answer arriving at the same moment are decided one after the other. */
static std::mutex dhcpftr_answer_lock;
static std::condition_variable dhcpftr_answer_cond;
/* Per operation code: waits given up whose answer has not arrived yet. */
static uint32_t dhcpftr_abandoned_waits[DHCPFTR_OP_NUM];

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
 * body or an operation code above 7 are ignored. An answer for a code whose wait was given up is dropped;
 * any other is recorded (result first, then its bit) and wakes the waiter. Returns 0.
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
    std::lock_guard<std::mutex> guard(dhcpftr_answer_lock);
    if (dhcpftr_abandoned_waits[answer.op] > 0) {
        dhcpftr_abandoned_waits[answer.op]--;
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: late response from kernel for %d dropped, ret %d\n", __func__, __LINE__, answer.op,
                 answer.ret);
        dhcpftr_answer_cond.notify_all();
        return 0;
    }
    _dhcpftr_set_ret_value(answer.ret);
    _dhcpftr_set_syn_flag(answer.op);
    dhcpftr_answer_cond.notify_all();
    return 0;
}

/*
 * Looks for the answer for op for DHCPFTR_SPIN_USEC before the waiter sleeps: the kernel filter usually
 * answers within microseconds, and a sleep and a wake-up cost more than that.
 */
static void _dhcpftr_spin_for_answer(uint32_t op)
{
    std::chrono::steady_clock::time_point until =
        std::chrono::steady_clock::now() + std::chrono::microseconds(DHCPFTR_SPIN_USEC);

    while (!_dhcpftr_check_syn_flag(op) && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

/*
 * Waits until the answer for op has arrived and returns its result, consuming the answer. Writes one
 * time-out line for every poll of 100 ms without the answer; after dhcpftr_wait_max_polls polls it gives
 * up and returns DHCPFTR_RET_TIMEOUT, and the answer for op that arrives later is dropped.
 */
int _dhcpftr_wait_for_event(uint32_t op)
{
    uint32_t polls = 0;
    int32_t ret;

    for (;;) {
        {
            std::unique_lock<std::mutex> guard(dhcpftr_answer_lock);
            if (_dhcpftr_check_syn_flag(op)) {
                _dhcpftr_clear_syn_flag(op);
                ret = _dhcpftr_get_ret_value();
                return ret;
            }
            if (polls >= dhcpftr_wait_max_polls) {
                dhcpftr_abandoned_waits[op]++;
                qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                         "%s [%d]: no response from kernel for %d after %d polls, given up\n", __func__, __LINE__,
                         op, polls);
                return DHCPFTR_RET_TIMEOUT;
            }
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: time out %d times\n", __func__,
                     __LINE__, polls);
            if (!dhcpftr_wait_fixed_poll) {
                guard.unlock();
                _dhcpftr_spin_for_answer(op);
                guard.lock();
                dhcpftr_answer_cond.wait_for(guard, std::chrono::microseconds(DHCPFTR_POLL_USEC),
                                             [op] { return _dhcpftr_check_syn_flag(op) != 0; });
            }
        }
        if (dhcpftr_wait_fixed_poll)
            usleep(DHCPFTR_POLL_USEC);
        polls++;
    }
}

/*
 * Before a new request with op is sent: when a wait for op was given up and its answer has not arrived,
 * waits for that late answer (which the handler drops) for as long as a wait lasts, so that it cannot be
 * taken for the new request's answer. An answer that does not come by then is taken as lost.
 */
void _dhcpftr_wait_late_answer(uint32_t op)
{
    std::unique_lock<std::mutex> guard(dhcpftr_answer_lock);

    if (dhcpftr_abandoned_waits[op] == 0)
        return;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: wait for late response from kernel for %d\n",
             __func__, __LINE__, op);
    if (!dhcpftr_answer_cond.wait_for(guard, std::chrono::microseconds((uint64_t)DHCPFTR_POLL_USEC *
                                                                      dhcpftr_wait_max_polls),
                                      [op] { return dhcpftr_abandoned_waits[op] == 0; })) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: late response from kernel for %d lost\n",
                 __func__, __LINE__, op);
        dhcpftr_abandoned_waits[op] = 0;
    }
}
