/*
 * The stacking service: the slot port table and the callbacks for cards inserted, cards removed and a
 * change of master.
 */
#include "dhcpftr_stacking.h"

#include "stacking.h"

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

/* Card removed from physical slot phy_slot. Returns 0. */
int DHCPFTR_ST_Hot_Remove_Cb(int32_t phy_slot)
{
    (void)phy_slot;
    return 0;
}

/* Master changed: nothing to do. Returns 0. */
int DHCPFTR_ST_Master_Change_Cb(uint32_t arg)
{
    (void)arg;
    return 0;
}
