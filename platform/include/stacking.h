/*
 * Stacking service and slot numbering.
 *
 * A chassis has physical slots 0 to 9: 0 and 1 hold the CPU cards, 2 to 9 line cards. Users count slots
 * from 1. A module registers callbacks for a card inserted, a card removed and a change of master.
 */
#ifndef PLATFORM_STACKING_H
#define PLATFORM_STACKING_H

#include "platform_types.h"

#define ST_PHY_SLOT_MAX 9

typedef int (*ST_INSERT_FN)(uint32_t arg);
typedef int (*ST_REMOVE_FN)(int32_t phy_slot);
typedef int (*ST_MASTER_FN)(uint32_t arg);

/* Registration record (32-bit words on the target). */
typedef struct {
    uint32_t reserved0;          /* offset 0 */
    uint32_t reserved1;          /* offset 4 */
    ST_INSERT_FN insert_cb;      /* offset 8: a card was inserted */
    ST_REMOVE_FN remove_cb;      /* offset 12: a card was removed; argument: its physical slot */
    ST_MASTER_FN master_cb;      /* offset 16: the master changed */
} ST_APP_REG_T;

#if PLATFORM_PTR32
PLATFORM_ASSERT_LAYOUT(offsetof(ST_APP_REG_T, insert_cb) == 8, "insert callback at offset 8");
PLATFORM_ASSERT_LAYOUT(offsetof(ST_APP_REG_T, remove_cb) == 12, "remove callback at offset 12");
PLATFORM_ASSERT_LAYOUT(offsetof(ST_APP_REG_T, master_cb) == 16, "master callback at offset 16");
#endif

PLATFORM_BEGIN_DECLS

/* Registers the callbacks of the record, which the service copies. 0 on success. */
int ST_APP_Init(ST_APP_REG_T *reg);
/* The user-view slot number (from 1) of a physical slot id. */
int BSPMGT_CMUTL_Pslotid_to_Uslotid(int phy_slot);

PLATFORM_END_DECLS

#endif
