/*
 * Commits to the kernel filter.
 *
 * A commit builds one message on its stack, sends it, waits for the answer of its operation code and, on a
 * zero answer only, changes the permit-rule store (rule commits) or the setting (trap and duration
 * commits). The port commits only report the answer: their callers keep the enabled-port list.
 */
#include "dhcpftr_db_commit.h"

#include <arpa/inet.h>
#include <string.h>

#include "dhcpftr_defs.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_portlist.h"
#include "dhcpftr_ukcomm.h"
#include "qvlog.h"
#include "ukcomm.h"

/* Logs, as written by func at line, that the commit waits for the answer of op. */
static void _dhcpftr_log_wait(const char *func, int line, uint32_t op)
{
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: wait for event %d\n", func, line, op);
}

/*
 * One exchange: sends the message with operation code op and waits for its answer, which it writes into
 * *result. Its log lines are written as by func at line. The wait line comes before the send when
 * wait_line_first, else after it. Returns 0 when the send failed (*result is then DHCPFTR_RET_SEND_FAIL),
 * 1 otherwise. While the answer of an earlier request with op that was given up is still due, nothing is
 * sent and *result is DHCPFTR_RET_TIMEOUT.
 */
static int _dhcpftr_exchange(const char *func, int line, uint32_t op, uint32_t msg_num, void *body,
                             uint32_t length, int wait_line_first, int32_t *result)
{
    if (_dhcpftr_late_answer_due(op)) {
        *result = DHCPFTR_RET_TIMEOUT;
        return 1;
    }
    if (wait_line_first)
        _dhcpftr_log_wait(func, line, op);
    if (UKCOMM_U_Send(msg_num, body, length) != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: UKCOMM send to kernel failed\n", func,
                 line);
        *result = DHCPFTR_RET_SEND_FAIL;
        return 0;
    }
    if (!wait_line_first)
        _dhcpftr_log_wait(func, line, op);
    *result = _dhcpftr_wait_for_event(op);
    return 1;
}

/* Ends a port-list log line begun by a heading. */
static void _dhcpftr_log_ports_end(void)
{
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 1, "\n");
}

/*
 * Adds the ports of rule to the stored rule with its key, or creates that rule when the key is new and the
 * store holds fewer than 255 rules. The message carries only the ports being added. Result: 0, -50 (store
 * full, nothing sent), -30, -20 (the kernel filter holds a rule the store could not take) or the kernel
 * filter's answer.
 */
void Dhcpftr_DB_Update_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T work;
    DHCPFTR_PERMIT_RULE_ENTRY_T *stored;
    DHCPFTR_U_RULE_MSG_T msg;

    memset(&work, 0, sizeof(work));
    Dhcpftr_copy_rule_entry(&work, rule);
    stored = Dhcpftr_DB_Get_Rule(&work);
    memset(&msg, 0, sizeof(msg));
    if (stored != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: Rule (%X,%02X:%02X:%02X:%02X:%02X:%02X) existed with port...\n", __func__, __LINE__,
                 ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]:Portlist to be added: ", __func__, __LINE__);
        dhcpftr_print_ports_u(&rule->portlist);
        _dhcpftr_log_ports_end();
        _dhcpftr_pack_set_rule_entry(&msg, rule, DHCPFTR_OP_ADD_RULE);
        if (!_dhcpftr_exchange(__func__, __LINE__, DHCPFTR_OP_ADD_RULE, DHCPFTR_U_RULE_MSG, &msg, sizeof(msg), 0,
                               result))
            return;
        if (*result != 0) {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: set rule to kernel failed\n",
                     __func__, __LINE__);
            return;
        }
        PORTLIST_or(&stored->portlist, &stored->portlist, &rule->portlist);
        return;
    }

    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
             "%s [%d]: Insert rule,key (%X,%02X:%02X:%02X:%02X:%02X:%02X)\n", __func__, __LINE__,
             ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
    if (avl_get_tree_size(dhcpftr_permit_rule_db) > DHCPFTR_MAX_RULES - 1) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Rule DB reaches maximum capacity\n",
                 __func__, __LINE__);
        *result = DHCPFTR_RET_DB_FULL;
        return;
    }
    _dhcpftr_pack_set_rule_entry(&msg, rule, DHCPFTR_OP_ADD_RULE);
    if (!_dhcpftr_exchange(__func__, __LINE__, DHCPFTR_OP_ADD_RULE, DHCPFTR_U_RULE_MSG, &msg, sizeof(msg), 0,
                               result))
        return;
    if (*result != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: set rule to kernel failed,ret %d\n",
                 __func__, __LINE__, *result);
        return;
    }
    Dhcpftr_copy_rule_entry(&work, rule);
    if (Dhcpftr_DB_Insert_Rule(&work) == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: Insert rule failed=> server_ip %X, MAC= %02X:%02X:%02X:%02X:%02X:%02X\n", __func__,
                 __LINE__, ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
        *result = DHCPFTR_RET_DB_FAIL;
    }
}

/*
 * Takes the ports of rule out of the stored rule with its key, with operation code op; the rule goes with
 * its last port. The whole requested list is sent, also ports the rule does not hold. A key that is not
 * stored, or a rule sharing no port with the request, gives 0 and sends nothing. Log lines are
 * written as by func at line: the commit and the line of its call.
 */
static void _dhcpftr_delete_rule_to_k(const char *func, int line, DHCPFTR_PERMIT_RULE_ENTRY_T *rule,
                                      int32_t *result, uint32_t op)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T work;
    DHCPFTR_PERMIT_RULE_ENTRY_T *stored;
    DHCPFTR_U_RULE_MSG_T msg;

    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
             "%s [%d]: Delete ports rule (server_ip %X, MAC=%02X:%02X:%02X:%02X:%02X:%02X)\n", func, line,
             ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]:Ports to be deleted: ", func, line);
    dhcpftr_print_ports_u(&rule->portlist);
    _dhcpftr_log_ports_end();

    memset(&work, 0, sizeof(work));
    Dhcpftr_copy_rule_entry(&work, rule);
    stored = Dhcpftr_DB_Get_Rule(&work);
    if (stored == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                 "%s [%d]: rule not found=> server_ip %X, MAC= %02X:%02X:%02X:%02X:%02X:%02X\n", func, line,
                 ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
        *result = 0;
        return;
    }
    if (!PORTLIST_chk_overlap(&stored->portlist, &rule->portlist)) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: no ports in common\n", func, line);
        *result = 0;
        return;
    }
    memset(&msg, 0, sizeof(msg));
    _dhcpftr_pack_set_rule_entry(&msg, rule, op);
    if (!_dhcpftr_exchange(func, line, op, DHCPFTR_U_RULE_MSG, &msg, sizeof(msg), 1, result))
        return;
    if (*result != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: set rule to kernel failed\n", func,
                 line);
        return;
    }
    PORTLIST_maskout(&stored->portlist, &stored->portlist, &rule->portlist);
    if (PORTLIST_chk_empty(&stored->portlist) && Dhcpftr_DB_Delete_Rule(rule) == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: Delete rule failed=> server_ip %X, MAC= %02X:%02X:%02X:%02X:%02X:%02X\n", func,
                 line, ntohl(rule->server_ip), DHCPFTR_MAC_ARGS(rule->client_mac));
        *result = DHCPFTR_RET_DB_FAIL;
    }
}

void Dhcpftr_DB_Delete_Rule_to_K(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result)
{
    _dhcpftr_delete_rule_to_k(__func__, __LINE__, rule, result, DHCPFTR_OP_DEL_RULE);
}

/* The stacking variant of the delete: identical but for its operation code. */
void Dhcpftr_DB_Stk_Delete_Rule_to_K(DHCPFTR_PERMIT_RULE_ENTRY_T *rule, int32_t *result)
{
    _dhcpftr_delete_rule_to_k(__func__, __LINE__, rule, result, DHCPFTR_OP_STK_DEL_RULE);
}

/*
 * Tells the kernel filter to enable (DHCPFTR_OP_ADD_PORTS) or disable (the other codes) screening on
 * ports. Result: 0, -30 or the kernel filter's answer. Log lines are written as by func at line: the commit
 * and the line of its call.
 */
static void _dhcpftr_ports_to_k(const char *func, int line, PORTLIST_T *ports, int32_t *result, uint32_t op)
{
    DHCPFTR_U_PORTS_MSG_T msg;
    int enable = op == DHCPFTR_OP_ADD_PORTS;

    if (enable) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Add enabled portlist to kernel\n", func,
                 line);
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]:Portlist to be enabled: ", func, line);
    } else {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Remove enabled portlist to kernel\n", func,
                 line);
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]:Ports to be removed: ", func, line);
    }
    dhcpftr_print_ports_u(ports);
    _dhcpftr_log_ports_end();

    memset(&msg, 0, sizeof(msg));
    _dhcpftr_pack_set_ports_entry(&msg, ports, op);
    if (!_dhcpftr_exchange(func, line, op, DHCPFTR_U_PORTS_MSG, &msg, sizeof(msg), 0, result) || *result == 0)
        return;
    if (enable)
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: set ports to kernel failed, ret %d\n",
                 func, line, *result);
    else
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: del ports to kernel failed\n", func,
                 line);
}

void Dhcpftr_DB_Update_Ports_to_K(PORTLIST_T *ports, int32_t *result)
{
    _dhcpftr_ports_to_k(__func__, __LINE__, ports, result, DHCPFTR_OP_ADD_PORTS);
}

void Dhcpftr_DB_Delete_Ports_to_K(PORTLIST_T *ports, int32_t *result)
{
    _dhcpftr_ports_to_k(__func__, __LINE__, ports, result, DHCPFTR_OP_DEL_PORTS);
}

/* The stacking variant of the disable: identical but for its operation code. */
void Dhcpftr_Stk_DB_Delete_Ports_to_K(PORTLIST_T *ports, int32_t *result)
{
    _dhcpftr_ports_to_k(__func__, __LINE__, ports, result, DHCPFTR_OP_STK_DEL_PORTS);
}

/*
 * Sets the trap/log state (1 enable, anything else disable) in the kernel filter and, once it accepted,
 * in the daemon. Callers call it only for a real change.
 */
void Dhcpftr_DB_Set_Trap_to_K(uint32_t state)
{
    DHCPFTR_U_VALUE_MSG_T msg;
    int32_t ret;

    memset(&msg, 0, sizeof(msg));
    _dhcpftr_pack_set_value_entry(&msg, state, DHCPFTR_OP_SET_TRAP);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Set trap/syslog state %d\n", __func__,
             __LINE__, state);
    if (!_dhcpftr_exchange(__func__, __LINE__, DHCPFTR_OP_SET_TRAP, DHCPFTR_U_VALUE_MSG, &msg, sizeof(msg), 0,
                           &ret))
        return;
    if (ret != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Disable trap/log to kernel failed\n",
                 __func__, __LINE__);
        return;
    }
    if (state == 1) {
        _dhcpftr_set_trap_state_enable();
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Enable trap/log to kernel OK\n", __func__,
                 __LINE__);
    } else {
        _dhcpftr_set_trap_state_disable();
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Disable trap/log to kernel OK\n",
                 __func__, __LINE__);
    }
}

/*
 * Sets the suppress duration in the kernel filter and, once it accepted, in the daemon. An unchanged
 * duration sends nothing and logs nothing.
 */
void Dhcpftr_DB_Set_Trap_duration_to_K(uint32_t minutes)
{
    DHCPFTR_U_VALUE_MSG_T msg;
    int32_t ret;

    if ((int32_t)minutes == (int32_t)dhcpftr_trap_duration)
        return;
    memset(&msg, 0, sizeof(msg));
    _dhcpftr_pack_set_duration_entry(&msg, minutes, DHCPFTR_OP_SET_DURATION);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Set trap/syslog duration %d\n", __func__,
             __LINE__, minutes);
    if (!_dhcpftr_exchange(__func__, __LINE__, DHCPFTR_OP_SET_DURATION, DHCPFTR_U_VALUE_MSG, &msg, sizeof(msg), 0,
                           &ret))
        return;
    if (ret != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0,
                 "%s [%d]: Set trap/log duration to kernel failed\n", __func__, __LINE__);
        return;
    }
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Set trap/log duration to kernel OK\n",
             __func__, __LINE__);
    _dhcpftr_set_trap_duration(minutes);
}
