/*
 * The screening database: the permit-rule store and the screening settings with the boot-time pending
 * lists.
 *
 * The store is one balanced tree of permit-rule entries that it allocates and owns. Only the rule commits
 * insert and delete, after the kernel filter has accepted the change; everybody else looks rules up or walks
 * them in key order. A lookup hands out the stored entry itself, whose port list callers may change in place
 * (never its key).
 */
#include <arpa/inet.h>
#include <string.h>

#include "dhcpftr_db.h"
#include "memmgr.h"
#include "qvlog.h"
#include "sysinf.h"

/* The source file named to the memory manager for every block of the database. */
static const char DHCPFTR_DB_FILE[] = "modules/dhcpftr/user/src/dhcpftr_db";

/* Protocol status announced to the system information service at initialisation. */
#define DHCPFTR_SYSINF_PROTO 46
#define DHCPFTR_SYSINF_STATUS 1

struct avl_tree *dhcpftr_permit_rule_db = 0;
PORTLIST_T dhcpftr_cfg_portlist_db;
PORTLIST_T dhcpftr_portlist_db;
PORTLIST_T should_update_port;
DHCPFTR_PENDING_RULE_T *temp_lacp_conf[DHCPFTR_TRUNK_NUM];
int32_t dhcpftr_enable_trap = 0;
uint32_t dhcpftr_trap_duration = DHCPFTR_DEFAULT_TRAP_DURATION;

/* Fills key with the key fields of entry (server address and client MAC); its port list stays empty. */
static void _dhcpftr_build_key(DHCPFTR_PERMIT_RULE_ENTRY_T *key, const DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    memset(key, 0, sizeof(*key));
    key->server_ip = entry->server_ip;
    memcpy(key->client_mac, entry->client_mac, sizeof(key->client_mac));
}

/* The stored entry of a tree node, or none for a missing node or one without item. */
static DHCPFTR_PERMIT_RULE_ENTRY_T *_dhcpftr_node_entry(struct avl_node *node)
{
    if (node == 0)
        return 0;
    return (DHCPFTR_PERMIT_RULE_ENTRY_T *)AVL_NODE_INFO(node);
}

/*
 * Initialises the screening data: empties the present-port and enabled-port lists, creates the store, sets
 * the trap/log state to disabled and the suppress duration to its default, empties the pending-rule lists
 * and announces the module's protocol status. The pending-enable list is left as it is. Returns 0.
 */
int Dhcpftr_DB_Init(void)
{
    int trunk_id;

    PORTLIST_clear_all(&dhcpftr_portlist_db);
    PORTLIST_clear_all(&dhcpftr_cfg_portlist_db);
    avl_create(&dhcpftr_permit_rule_db, 0, dhcpftr_permit_rule_db_avl_cmp);
    dhcpftr_enable_trap = 0;
    dhcpftr_trap_duration = DHCPFTR_DEFAULT_TRAP_DURATION;
    for (trunk_id = 0; trunk_id < DHCPFTR_TRUNK_NUM; trunk_id++)
        temp_lacp_conf[trunk_id] = 0;
    SYSINF_LIB_Proto_Status_Set(DHCPFTR_SYSINF_PROTO, DHCPFTR_SYSINF_STATUS, "");
    return 0;
}

/*
 * Orders two permit-rule entries by key: server address as an unsigned number, then client MAC byte by
 * byte. Returns -1, 0 or 1 for a before, equal to or after b; -1 when either is missing.
 */
int dhcpftr_permit_rule_db_avl_cmp(void *a, void *b)
{
    const DHCPFTR_PERMIT_RULE_ENTRY_T *ea = (const DHCPFTR_PERMIT_RULE_ENTRY_T *)a;
    const DHCPFTR_PERMIT_RULE_ENTRY_T *eb = (const DHCPFTR_PERMIT_RULE_ENTRY_T *)b;
    uint32_t ip_a;
    uint32_t ip_b;
    int order;

    if (ea == 0 || eb == 0)
        return -1;
    ip_a = ntohl(ea->server_ip);
    ip_b = ntohl(eb->server_ip);
    if (ip_a > ip_b)
        return 1;
    if (ip_a < ip_b)
        return -1;
    order = memcmp(ea->client_mac, eb->client_mac, sizeof(ea->client_mac));
    if (order > 0)
        return 1;
    if (order < 0)
        return -1;
    return 0;
}

/* Returns the stored entry with the key of entry, or none. */
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T key;
    DHCPFTR_PERMIT_RULE_ENTRY_T *found;

    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Database not init\n", __func__, __LINE__);
        return 0;
    }
    _dhcpftr_build_key(&key, entry);
    found = _dhcpftr_node_entry(avl_search(dhcpftr_permit_rule_db, &key));
    if (found != 0)
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0,
                 "%s [%d]: Get rule for IP %X,client mac %02X:%02X:%02X:%02X:%02X:%02X OK\n", __func__, __LINE__,
                 ntohl(entry->server_ip), DHCPFTR_MAC_ARGS(entry->client_mac));
    return found;
}

/*
 * Returns the stored entry with the smallest key strictly greater than the key of entry, whether or not
 * that key is stored; none when there is no such entry.
 */
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Rule_CloseNext(DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T key;
    DHCPFTR_PERMIT_RULE_ENTRY_T *found;

    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Database not init\n", __func__, __LINE__);
        return 0;
    }
    _dhcpftr_build_key(&key, entry);
    found = _dhcpftr_node_entry(avl_search_close(dhcpftr_permit_rule_db, &key));
    if (found == 0)
        return 0;
    if (dhcpftr_permit_rule_db_avl_cmp(&key, found) >= 0)
        found = Dhcpftr_DB_Get_Next_Rule(found);
    return found;
}

/*
 * Stores a copy of entry (key and port list); the caller keeps its argument. Returns 1 when the copy was
 * stored, 0 when the store does not exist, the key is already stored or memory runs out.
 */
int Dhcpftr_DB_Insert_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T key;
    DHCPFTR_PERMIT_RULE_ENTRY_T *stored;

    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
             "%s [%d]: Insert rule => server_ip %X, MAC= %02X:%02X:%02X:%02X:%02X:%02X\n", __func__, __LINE__,
             ntohl(entry->server_ip), DHCPFTR_MAC_ARGS(entry->client_mac));
    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Database not init\n", __func__, __LINE__);
        return 0;
    }
    _dhcpftr_build_key(&key, entry);
    if (_dhcpftr_node_entry(avl_search(dhcpftr_permit_rule_db, &key)) != 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_INFO, 0, "%s [%d]: Entry already existed!\n", __func__,
                 __LINE__);
        return 0;
    }
    stored = (DHCPFTR_PERMIT_RULE_ENTRY_T *)mfh_calloc(sizeof(*stored), 0, DHCPFTR_DB_FILE, __LINE__);
    if (stored == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_ERROR, 0, "%s [%d]: Memory allocated failed!\n", __func__,
                 __LINE__);
        return 0;
    }
    Dhcpftr_copy_rule_entry(stored, entry);
    avl_insert(dhcpftr_permit_rule_db, stored);
    return 1;
}

/* Returns the stored entry with the smallest key, or none. */
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_First_Rule(void)
{
    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Database not init\n", __func__,
                 __LINE__);
        return 0;
    }
    return _dhcpftr_node_entry(avl_first(dhcpftr_permit_rule_db));
}

/*
 * Returns the stored entry that follows the key of entry in key order, or none. The key must be stored
 * (entry may be a copy of the stored entry); a key that is not stored gives none.
 */
DHCPFTR_PERMIT_RULE_ENTRY_T *Dhcpftr_DB_Get_Next_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T key;
    DHCPFTR_PERMIT_RULE_ENTRY_T *next;
    struct avl_node *node;

    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Database not init\n", __func__,
                 __LINE__);
        return 0;
    }
    if (entry == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Invalid parameter\n", __func__,
                 __LINE__);
        return 0;
    }
    _dhcpftr_build_key(&key, entry);
    node = avl_search(dhcpftr_permit_rule_db, &key);
    if (_dhcpftr_node_entry(node) == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Find next rule failed\n", __func__,
                 __LINE__);
        return 0;
    }
    next = _dhcpftr_node_entry(avl_getnext(dhcpftr_permit_rule_db, node));
    if (next == 0)
        return 0;
    if (next->server_ip == key.server_ip && memcmp(next->client_mac, key.client_mac, sizeof(key.client_mac)) == 0)
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_INFO, 0, "%s [%d]: Permit rule duplicate\n", __func__,
                 __LINE__);
    return next;
}

/*
 * Removes and frees the stored entry with the key of entry; its port list plays no part. Returns 1 when
 * the entry was removed, 0 when the store does not exist, the key is not stored or the tree refused.
 */
int Dhcpftr_DB_Delete_Rule(DHCPFTR_PERMIT_RULE_ENTRY_T *entry)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T key;
    DHCPFTR_PERMIT_RULE_ENTRY_T *stored;

    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
             "%s [%d]: Delete rule => server_ip %X, MAC= %02X:%02X:%02X:%02X:%02X:%02X\n", __func__, __LINE__,
             ntohl(entry->server_ip), DHCPFTR_MAC_ARGS(entry->client_mac));
    if (dhcpftr_permit_rule_db == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_WARNING, 0, "%s [%d]: Database not init\n", __func__,
                 __LINE__);
        return 0;
    }
    _dhcpftr_build_key(&key, entry);
    stored = _dhcpftr_node_entry(avl_search(dhcpftr_permit_rule_db, &key));
    if (stored == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                 "%s [%d]: rule => server_ip %X, MAC=%02X:%02X:%02X:%02X:%02X:%02X not found\n", __func__,
                 __LINE__, ntohl(entry->server_ip), DHCPFTR_MAC_ARGS(entry->client_mac));
        return 0;
    }
    if (avl_remove(dhcpftr_permit_rule_db, stored) < 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0,
                 "%s [%d]: rule => server_ip %X, MAC=%02X:%02X:%02X:%02X:%02X:%02X avl remove failed\n", __func__,
                 __LINE__, ntohl(entry->server_ip), DHCPFTR_MAC_ARGS(entry->client_mac));
        return 0;
    }
    memmgr_free(0, stored, DHCPFTR_DB_FILE, __LINE__);
    return 1;
}

/* Returns 1 when the store holds no entry, else 0. */
int Dhcpftr_DB_is_empty(void)
{
    return Dhcpftr_DB_entry_number() == 0 ? 1 : 0;
}

/* Returns the number of stored entries. */
int Dhcpftr_DB_entry_number(void)
{
    return avl_get_tree_size(dhcpftr_permit_rule_db);
}

/* Copies server address, client MAC and port list of src into dst. */
void Dhcpftr_copy_rule_entry(DHCPFTR_PERMIT_RULE_ENTRY_T *dst, DHCPFTR_PERMIT_RULE_ENTRY_T *src)
{
    dst->server_ip = src->server_ip;
    memcpy(dst->client_mac, src->client_mac, sizeof(dst->client_mac));
    PORTLIST_copy(&dst->portlist, &src->portlist);
}

/* Returns 1 when illegal DHCP servers are reported (the trap/log state is exactly 1), else 0. */
int _dhcpftr_is_trap_enable(void)
{
    return dhcpftr_enable_trap == 1 ? 1 : 0;
}

void _dhcpftr_set_trap_state_enable(void)
{
    dhcpftr_enable_trap = 1;
}

void _dhcpftr_set_trap_state_disable(void)
{
    dhcpftr_enable_trap = 0;
}

/* Returns the suppress duration in minutes. */
uint32_t _dhcpftr_get_trap_duration(void)
{
    return dhcpftr_trap_duration;
}

/* Sets the suppress duration; the range is the commands' business. */
void _dhcpftr_set_trap_duration(uint32_t minutes)
{
    dhcpftr_trap_duration = minutes;
}

/* Returns 1 when trunk_id can index the pending-rule lists; otherwise logs the refusal as written by
 * caller at line and returns 0. */
static int _dhcpftr_trunk_id_valid(const char *caller, int line, int trunk_id)
{
    if (trunk_id >= 0 && trunk_id < DHCPFTR_TRUNK_NUM)
        return 1;
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Invalid trunk id %d\n", caller, line, trunk_id);
    return 0;
}

/*
 * Puts a copy of key (server address and client MAC) at the head of the pending-rule list of trunk_id. On
 * an allocation failure, or a trunk id outside 0 to 127, nothing is queued.
 */
void _dhcpftr_add_list_first(int trunk_id, DHCPFTR_PENDING_RULE_T *key)
{
    DHCPFTR_PENDING_RULE_T *node;

    if (!_dhcpftr_trunk_id_valid(__func__, __LINE__, trunk_id))
        return;
    node = (DHCPFTR_PENDING_RULE_T *)mfh_calloc(sizeof(*node), 0, DHCPFTR_DB_FILE, __LINE__);
    if (node == 0) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Memory allocated failed\n", __func__,
                 __LINE__);
        return;
    }
    node->server_ip = key->server_ip;
    memcpy(node->client_mac, key->client_mac, sizeof(node->client_mac));
    node->next = temp_lacp_conf[trunk_id];
    temp_lacp_conf[trunk_id] = node;
}

/* Returns the head of the pending-rule list of trunk_id (which keeps it), or none. */
DHCPFTR_PENDING_RULE_T *_dhcpftr_get_list_first(int trunk_id)
{
    if (!_dhcpftr_trunk_id_valid(__func__, __LINE__, trunk_id))
        return 0;
    return temp_lacp_conf[trunk_id];
}

/* Unlinks and frees the head of the pending-rule list of trunk_id; nothing happens on an empty list. */
void _dhcpftr_remove_list_first(int trunk_id)
{
    DHCPFTR_PENDING_RULE_T *head;

    if (!_dhcpftr_trunk_id_valid(__func__, __LINE__, trunk_id))
        return;
    head = temp_lacp_conf[trunk_id];
    if (head == 0)
        return;
    temp_lacp_conf[trunk_id] = head->next;
    memmgr_free(0, head, DHCPFTR_DB_FILE, __LINE__);
}

/* Frees every node of all pending-rule lists; every head is none afterwards. */
void dhcpftr_clear_temp_rule(void)
{
    int trunk_id;

    for (trunk_id = 0; trunk_id < DHCPFTR_TRUNK_NUM; trunk_id++) {
        while (_dhcpftr_get_list_first(trunk_id) != 0)
            _dhcpftr_remove_list_first(trunk_id);
    }
}
