/*
 * Daemon start-up framework.
 *
 * A daemon's main obtains a start-up record, names its module and entry points in it and hands it to
 * QV_INIT_Sys_Init, which owns the process from then on: it calls the entry points, brings up the
 * platform around the daemon and keeps the process alive.
 */
#ifndef PLATFORM_QV_INIT_H
#define PLATFORM_QV_INIT_H

#include "platform_types.h"

struct cli_tree;

/* What the framework hands to the command installer. */
struct qv_init_ctx {
    struct cli_tree *ctree; /* the shell's command tree */
};

typedef int (*QV_CLI_INIT_FN)(struct qv_init_ctx *ctx);
typedef int (*QV_NSM_INIT_FN)(uint32_t arg);
typedef int (*QV_MOD_INIT_FN)(uint32_t arg1, uint32_t arg2);

/* Start-up record (32-bit words on the target). Words a daemon does not set keep the framework's values. */
typedef struct {
    uint32_t module_id;       /* word 0 */
    uint32_t words1_8[8];     /* words 1 to 8: the framework's */
    uint32_t flag;            /* word 9 */
    QV_CLI_INIT_FN cli_init;  /* word 10: command installer */
    void *word11;             /* word 11: the framework's */
    QV_NSM_INIT_FN nsm_init;  /* word 12: NSM client start */
    QV_MOD_INIT_FN mod_init;  /* word 13: module initialiser */
    void *words14_15[2];      /* words 14 and 15: the framework's */
} QV_INIT_T;

#if PLATFORM_PTR32
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, flag) == 36, "flag in word 9");
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, cli_init) == 40, "command installer in word 10");
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, word11) == 44, "word 11");
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, nsm_init) == 48, "NSM client start in word 12");
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, mod_init) == 52, "module initialiser in word 13");
#endif
PLATFORM_ASSERT_LAYOUT(offsetof(QV_INIT_T, flag) == 36, "flag in word 9");

PLATFORM_BEGIN_DECLS

/* A start-up record to fill, owned by the framework. */
QV_INIT_T *QV_INIT_alloc(void);
/* Runs the daemon described by the record; returns when the process is to end. */
int QV_INIT_Sys_Init(QV_INIT_T *rec);

PLATFORM_END_DECLS

#endif
