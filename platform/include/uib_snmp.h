/*
 * SNMP bridge.
 *
 * The SNMP agent reads a module's tables through shell commands. Such a command hands the bridge a table
 * descriptor naming a row buffer and three callbacks (get, get-next, row printer); the bridge calls them as
 * the request needs. A row printer sends the row's key with uib_snmp_key_send and each column value through
 * the command context's table-output operation:
 *   table mode (CLI_OUT_FLAG_TABLE):  table_out(&cli->table_area, &column, format, value)
 *   plain mode (flags 0):             table_out(cli->out_target, format, value)
 */
#ifndef PLATFORM_UIB_SNMP_H
#define PLATFORM_UIB_SNMP_H

#include "cli.h"
#include "platform_types.h"

/* Result of the table-output operation asking the printer to stop. */
#define UIB_OUT_STOP 4

typedef int (*UIB_GET_FN)(void *row);
typedef int (*UIB_GETNEXT_FN)(void *row);
typedef int (*UIB_PRINT_FN)(struct cli *cli, void *row);

/* Table descriptor (fifteen 32-bit words on the target). */
typedef struct {
    void *row;               /* word 0: the row buffer, holding the requested key */
    UIB_GET_FN get;          /* word 1 */
    void *reserved2;
    UIB_GETNEXT_FN getnext;  /* word 3 */
    void *reserved4;
    void *reserved5;
    UIB_PRINT_FN print;      /* word 6 */
    void *reserved7[8];
} UIB_TABLE_DESC_T;

#if PLATFORM_PTR32
PLATFORM_ASSERT_LAYOUT(sizeof(UIB_TABLE_DESC_T) == 60, "table descriptor is fifteen words");
PLATFORM_ASSERT_LAYOUT(offsetof(UIB_TABLE_DESC_T, get) == 4, "get reader in word 1");
PLATFORM_ASSERT_LAYOUT(offsetof(UIB_TABLE_DESC_T, getnext) == 12, "get-next reader in word 3");
PLATFORM_ASSERT_LAYOUT(offsetof(UIB_TABLE_DESC_T, print) == 24, "row printer in word 6");
#endif

/* Column descriptor handed with each column value. */
typedef struct {
    int32_t column;
    int32_t kind;            /* -100 */
} UIB_COLUMN_T;

PLATFORM_BEGIN_DECLS

/* Walks the table as the pending SNMP request needs; the result is the command's result. */
int UIB_OUT_TABLE_ENTRIES(struct cli *cli, UIB_TABLE_DESC_T *table);
/* Hands the key of the row being printed to the bridge. */
int uib_snmp_key_send(struct cli *cli, const void *key, int length);

PLATFORM_END_DECLS

#endif
