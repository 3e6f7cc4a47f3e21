/*
 * The stacking service: the slot port table and the callbacks for cards inserted, cards removed and a
 * change of master.
 */
#include "dhcpftr_stacking.h"

#include <string.h>

#include "dhcpftr_db.h"
#include "dhcpftr_db_commit.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_portlist.h"
#include "qvlog.h"
#include "stacking.h"

/* Physical slot ids: 0 and 1 hold the CPU cards, 2 to 9 the line cards. */
#define DHCPFTR_PHY_SLOT_MIN 0
#define DHCPFTR_PHY_SLOT_MAX 9
#define DHCPFTR_PHY_SLOT_FIRST_LINE_CARD 2

/* Lports of one slot: a window of 64 numbers, of which the first 48 are its ports. */
#define DHCPFTR_SLOT_WORDS 2
#define DHCPFTR_SLOT_FIRST_WORD 0xFFFFFFFFu
#define DHCPFTR_SLOT_SECOND_WORD 0xFFFF0000u

PORTLIST_T portlist_by_slot[DHCPFTR_SLOT_NUM];

/* Fills the slot port table: entry s - 1 holds lports 64(s - 1) + 1 to 64(s - 1) + 48 of slot s. */
void _initlize_slot_port_db(void)
{
    int i;

    for (i = 0; i < DHCPFTR_SLOT_NUM; i++) {
        PORTLIST_clear_all(&portlist_by_slot[i]);
        portlist_by_slot[i].word[DHCPFTR_SLOT_WORDS * i] = DHCPFTR_SLOT_FIRST_WORD;
        portlist_by_slot[i].word[DHCPFTR_SLOT_WORDS * i + 1] = DHCPFTR_SLOT_SECOND_WORD;
    }
}

/* Builds the slot port table and registers the three card callbacks with the stacking service. */
void DHCPFTR_ST_Service_Init(void)
{
    ST_APP_REG_T reg = {0, 0, 0, 0, 0};

    _initlize_slot_port_db();
    reg.insert_cb = DHCPFTR_ST_Hot_Insert_Cb;
    reg.remove_cb = DHCPFTR_ST_Hot_Remove_Cb;
    reg.master_cb = DHCPFTR_ST_Master_Change_Cb;
    ST_APP_Init(&reg);
}

/* Card inserted: its ports become present through the interface-add hook; nothing to do here. Returns 0. */
int DHCPFTR_ST_Hot_Insert_Cb(uint32_t arg)
{
    (void)arg;
    return 0;
}

/*
 * Card removed from physical slot phy_slot. For a line card, its 48 ports leave the present-port list, are
 * disabled in the kernel filter (all of them, enabled or not) and then in the enabled-port list, and are
 * flushed from every rule in key order, one commit per rule. CPU cards and unknown ids change nothing.
 * Returns 0.
 */
int DHCPFTR_ST_Hot_Remove_Cb(int32_t phy_slot)
{
    DHCPFTR_PERMIT_RULE_ENTRY_T *rule;
    DHCPFTR_PERMIT_RULE_ENTRY_T *next;
    DHCPFTR_PERMIT_RULE_ENTRY_T entry;
    PORTLIST_T removed;
    int32_t result = 0;
    int user_slot;

    PORTLIST_clear_all(&removed);
    if (phy_slot < DHCPFTR_PHY_SLOT_MIN || phy_slot > DHCPFTR_PHY_SLOT_MAX) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Invalid slot id %d\n", __func__, __LINE__,
                 phy_slot);
        return 0;
    }
    if (phy_slot < DHCPFTR_PHY_SLOT_FIRST_LINE_CARD) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: CPU card remove\n\n", __func__, __LINE__);
        return 0;
    }
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Physical slot %d, removed\n", __func__,
             __LINE__, phy_slot);
    user_slot = BSPMGT_CMUTL_Pslotid_to_Uslotid(phy_slot);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: User view slot %d, removed\n", __func__,
             __LINE__, user_slot);
    /* The table has one entry per user-view slot 1 to 10; a slot outside them is not read. */
    if (user_slot < 1 || user_slot > DHCPFTR_SLOT_NUM) {
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: Invalid user view slot %d\n", __func__,
                 __LINE__, user_slot);
        return 0;
    }

    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "Removed portlist: ");
    dhcpftr_print_ports_u(&portlist_by_slot[user_slot - 1]);
    qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 1, "\n");

    PORTLIST_copy(&removed, &portlist_by_slot[user_slot - 1]);
    PORTLIST_maskout(&dhcpftr_portlist_db, &dhcpftr_portlist_db, &removed);
    Dhcpftr_DB_Delete_Ports_to_K(&removed, &result);
    if (result == DHCPFTR_RET_OK)
        PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &removed);

    if (Dhcpftr_DB_is_empty())
        return 0;
    for (rule = Dhcpftr_DB_Get_First_Rule(); rule != 0; rule = next) {
        next = Dhcpftr_DB_Get_Next_Rule(rule);
        memset(&entry, 0, sizeof(entry));
        entry.server_ip = rule->server_ip;
        memcpy(entry.client_mac, rule->client_mac, sizeof(entry.client_mac));
        PORTLIST_copy(&entry.portlist, &removed);
        Dhcpftr_DB_Delete_Rule_to_K(&entry, &result);
        qvprintf(DHCPFTR_LOG_MODULE, 0, QVLOG_LEVEL_DEBUG, 0, "%s [%d]: flush port, ret %d\n", __func__, __LINE__,
                 result);
    }
    return 0;
}

/* Master changed: nothing to do. Returns 0. */
int DHCPFTR_ST_Master_Change_Cb(uint32_t arg)
{
    (void)arg;
    return 0;
}
