/*
 * Topology events: interfaces added to and deleted from the interface table, and link-aggregation
 * membership changes.
 *
 * Every change goes to the kernel filter first, through the commits; the daemon's lists follow a commit that
 * succeeded. A failed commit is logged with its result and the event goes on with its next step or rule. The
 * store walks ask for a rule's successor while the rule is still stored, since a commit may delete it.
 */
#include "dhcpftr_nsm.h"

#include <string.h>

#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "nsm_client.h"
#include "qvlog.h"

/* Link-aggregation notification: values of its change field. */
#define DHCPFTR_LACP_MEMBER_REMOVED 0u
#define DHCPFTR_LACP_MEMBER_ADDED 1u

/* True for the ifindex of a physical port or a trunk, the only interfaces screening knows. */
static int _dhcpftr_is_screened_ifindex(uint32_t ifindex)
{
    return ifindex >= IF_PHY_IFINDEX_MIN && ifindex <= IF_TRUNK_IFINDEX_MAX;
}

/* A port list holding only lport. */
static void _dhcpftr_single_port(PORTLIST_T *ports, uint32_t lport)
{
    PORTLIST_clear_all(ports);
    PORTLIST_set_port(ports, lport);
}

/* A work entry for one commit: zero-filled, the key copied (server IP, client MAC) and only lport. */
static void _dhcpftr_work_entry(DHCPFTR_PERMIT_RULE_ENTRY_T *entry, uint32_t server_ip, const uint8_t *client_mac,
                                uint32_t lport)
{
    memset(entry, 0, sizeof(*entry));
    entry->server_ip = server_ip;
    memcpy(entry->client_mac, client_mac, sizeof(entry->client_mac));
    _dhcpftr_single_port(&entry->portlist, lport);
}

/*
 * Interface-add hook: records a port or trunk as present and, while the switch boots, commits the
 * configuration that waited for a trunk. A port already present is logged and left alone. Returns 0.
 */
int dhcpftr_nsm_vr_if_add(struct interface *ifp)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    DHCPFTR_PENDING_RULE_T *pending;
    PORTLIST_T ports;
    int32_t result = 0;
    uint32_t lport;
    int trunk_id;

    if (!_dhcpftr_is_screened_ifindex(ifp->ifindex))
        return 0;
    lport = if_ifindex_to_st_lport(ifp->ifindex);
    if (PORTLIST_chk_port_exist(&dhcpftr_portlist_db, lport)) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_INFO, 0, "%s [%d]: port %s already existed\n\n", __func__,
                 __LINE__, ifp->name);
        return 0;
    }
    PORTLIST_set_port(&dhcpftr_portlist_db, lport);

    /* The enabling that the replayed configuration gave the trunk before it existed. A failed commit leaves
     * the port in the pending-enable list. */
    if (DHCPFTR_Get_Reboot_Ready() == 0 && PORTLIST_chk_empty(&should_update_port) == 0 &&
        if_check_if_type_by_ifname(ifp->name) == IF_TYPE_TRUNK && PORTLIST_chk_port_exist(&should_update_port, lport)) {
        _dhcpftr_single_port(&ports, lport);
        Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
        if (result == DHCPFTR_RET_OK) {
            PORTLIST_set_port(&dhcpftr_cfg_portlist_db, lport);
            PORTLIST_clear_port(&should_update_port, lport);
        } else {
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: failed, status code %d\n", __func__,
                     __LINE__, result);
        }
    }

    /* The rules that the replayed configuration gave the trunk, newest first; each pending key is consumed
     * whatever its commit's result. */
    if (DHCPFTR_Get_Reboot_Ready() != 0 || if_check_if_type_by_ifname(ifp->name) != IF_TYPE_TRUNK)
        return 0;
    trunk_id = (int)(ifp->ifindex - IF_TRUNK_IFINDEX_MIN);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: port %s trunk id %d\n", __func__, __LINE__,
             ifp->name, trunk_id);
    while ((pending = _dhcpftr_get_list_first(trunk_id)) != 0) {
        _dhcpftr_work_entry(&entry, pending->server_ip, pending->client_mac, lport);
        Dhcpftr_DB_Update_Rule(&entry, &result);
        if (result != DHCPFTR_RET_OK)
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_INFO, 0, "%s [%d]: %s update failed, status code %d\n",
                     __func__, __LINE__, ifp->name, result);
        _dhcpftr_remove_list_first(trunk_id);
    }
    return 0;
}

/*
 * Interface-delete hook: records the port as absent. An interface deleted for good (state 1) also loses its
 * screening: it is disabled, then flushed from every rule in key order, one "flush port" line per rule. An
 * interface that only leaves the table keeps its configuration. Returns 0.
 */
int dhcpftr_nsm_vr_if_del(struct interface *ifp)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    DHCPFTR_PERMIT_RULE_ENTRY_T *next;
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T ports;
    int32_t result = 0;
    uint32_t lport;

    if (!_dhcpftr_is_screened_ifindex(ifp->ifindex))
        return 0;
    lport = if_ifindex_to_st_lport(ifp->ifindex);
    if (!PORTLIST_chk_port_exist(&dhcpftr_portlist_db, lport)) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_INFO, 0, "%s [%d]: port %s is not existed\n\n", __func__,
                 __LINE__, ifp->name);
        return 0;
    }
    PORTLIST_clear_port(&dhcpftr_portlist_db, lport);
    if (ifp->state != IF_STATE_DELETED_FOR_GOOD)
        return 0;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: %s is deleted\n", __func__, __LINE__,
             ifp->name);

    if (PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, lport)) {
        _dhcpftr_single_port(&ports, lport);
        Dhcpftr_DB_Delete_Ports_to_K(&ports, &result);
        if (result == DHCPFTR_RET_OK)
            PORTLIST_clear_port(&dhcpftr_cfg_portlist_db, lport);
        else
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: %s failed, status code %d\n", __func__,
                     __LINE__, ifp->name, result);
    }

    result = 0;
    if (Dhcpftr_DB_is_empty())
        return 0;
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = next) {
        next = Dhcpftr_DB_Get_Next_Rule(rule);
        _dhcpftr_work_entry(&entry, rule->server_ip, rule->client_mac, lport);
        Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                 "%s [%d]: flush port %s for key {%r,%02X:%02X:%02X:%02X:%02X:%02X}, ret %d\n", __func__, __LINE__,
                 ifp->name, &entry.server_ip, DHCPFTR_MAC_ARGS(entry.client_mac), result);
    }
    return 0;
}

/*
 * Sends the aggregate's enabling (lport agg) to the kernel filter again when it is enabled; a failure is
 * logged as by caller at line. The enabled-port list is not changed either way.
 */
static void _dhcpftr_resend_agg_enabling(const char *caller, int line, uint32_t agg, const char *agg_name)
{
    PORTLIST_T ports;
    int32_t result = 0;

    if (!PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, agg))
        return;
    _dhcpftr_single_port(&ports, agg);
    Dhcpftr_DB_Update_Ports_to_K(&ports, &result);
    if (result != DHCPFTR_RET_OK)
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                 "%s [%d]: Update enabled portlist for %s failed, status code %d\n", caller, line, agg_name,
                 result);
}

/* Sends the aggregate's port (lport agg) of one rule to the kernel filter again and logs the result as by
 * caller at line. */
static void _dhcpftr_resend_agg_rule(const char *caller, int line, DHCPFTR_PERMIT_RULE_ENTRY_T *rule,
                                     uint32_t agg, const char *agg_name)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    int32_t result = 0;

    _dhcpftr_work_entry(&entry, rule->server_ip, rule->client_mac, agg);
    Dhcpftr_DB_Update_Rule(&entry, &result);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
             "%s [%d]: Update %s for key {%r,%02X:%02X:%02X:%02X:%02X:%02X}, ret %d\n", caller, line, agg_name,
             &entry.server_ip, DHCPFTR_MAC_ARGS(entry.client_mac), result);
}

/*
 * A port joined an aggregate: the member loses its own screening (its enabling, its place in every rule) and
 * the aggregate's enabling and every rule holding the aggregate are sent again, in that order, rule by rule
 * in key order. member_ifindex is the port, agg_name the aggregate's interface name; info is not used.
 * Returns 0.
 */
int Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add(uint32_t member_ifindex, char *agg_name, uint32_t info)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    DHCPFTR_PERMIT_RULE_ENTRY_T *next;
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T ports;
    int32_t result = 0;
    uint32_t member;
    uint32_t agg;
    int holds_agg;

    (void)info;
    member = if_ifindex_to_st_lport(member_ifindex);
    agg = if_ifindex_to_st_lport(if_utl_ifname_to_ifindex(agg_name));

    if (PORTLIST_chk_port_exist(&dhcpftr_cfg_portlist_db, member)) {
        _dhcpftr_single_port(&ports, member);
        Dhcpftr_DB_Delete_Ports_to_K(&ports, &result);
        if (result == DHCPFTR_RET_OK)
            PORTLIST_clear_port(&dhcpftr_cfg_portlist_db, member);
        else
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                     "%s [%d]: Remove enabled portlist for %s failed, status code %d\n", __func__, __LINE__,
                     agg_name, result);
    }
    _dhcpftr_resend_agg_enabling(__func__, __LINE__, agg, agg_name);

    if (Dhcpftr_DB_is_empty())
        return 0;
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = next) {
        next = Dhcpftr_DB_Get_Next_Rule(rule);
        /* Taking the member out never takes the aggregate's port: whether the rule holds it is known now,
         * before the commit that may delete the rule. */
        holds_agg = PORTLIST_chk_port_exist(&rule->portlist, agg);
        if (PORTLIST_chk_port_exist(&rule->portlist, member)) {
            _dhcpftr_work_entry(&entry, rule->server_ip, rule->client_mac, member);
            Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
            qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                     "%s [%d]: flush port %d for key {%r,%02X:%02X:%02X:%02X:%02X:%02X}, ret %d\n", __func__,
                     __LINE__, (int)member_ifindex, &entry.server_ip, DHCPFTR_MAC_ARGS(entry.client_mac), result);
        }
        if (holds_agg)
            _dhcpftr_resend_agg_rule(__func__, __LINE__, rule, agg, agg_name);
    }
    return 0;
}

/*
 * A port left an aggregate: the aggregate's enabling and every rule holding the aggregate are sent again;
 * the departing port gets nothing back. Only agg_name is used. Returns 0.
 */
int Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Del(uint32_t member_ifindex, char *agg_name, uint32_t info)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    uint32_t agg;

    (void)member_ifindex;
    (void)info;
    agg = if_ifindex_to_st_lport(if_utl_ifname_to_ifindex(agg_name));
    _dhcpftr_resend_agg_enabling(__func__, __LINE__, agg, agg_name);
    if (Dhcpftr_DB_is_empty())
        return 0;
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = Dhcpftr_DB_Get_Next_Rule(rule)) {
        if (PORTLIST_chk_port_exist(&rule->portlist, agg))
            _dhcpftr_resend_agg_rule(__func__, __LINE__, rule, agg, agg_name);
    }
    return 0;
}

/*
 * Handler of the link-aggregation notification: change 1 is a port joining an aggregate, 0 a port leaving
 * it; any other value is ignored. arg is not used. Returns 0.
 */
int Dhcpftr_Recv_Aggregator_Port_Config_NOTIFY_Handler(void *msg, void *arg)
{
    NSM_LACP_AGG_PORT_MSG_T *notify = (NSM_LACP_AGG_PORT_MSG_T *)msg;

    (void)arg;
    if (notify->change == DHCPFTR_LACP_MEMBER_ADDED)
        Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Add(notify->member_ifindex, notify->agg_name, notify->info);
    else if (notify->change == DHCPFTR_LACP_MEMBER_REMOVED)
        Dhcpftr_Nsm_Recv_Cfg_LACP_Group_Member_Del(notify->member_ifindex, notify->agg_name, notify->info);
    return 0;
}
