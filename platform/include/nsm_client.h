/*
 * NSM client library.
 *
 * A module starts its NSM client with its protocol id and a list of other modules whose notifications it
 * wants; once the client is up, the library calls the module's start-up callback with the NSM globals. The
 * module then subscribes to services and adds hooks to the interface table of the globals.
 */
#ifndef PLATFORM_NSM_CLIENT_H
#define PLATFORM_NSM_CLIENT_H

#include "if_table.h"
#include "platform_types.h"

/* Interface hook types. */
#define NSM_IF_HOOK_ADD 5
#define NSM_IF_HOOK_DELETE 6

/* Notification of the link-aggregation module "LACP": a port joined or left an aggregate. */
#define NSM_LACP_NOTIFY_AGG_PORT_CONFIG 0x402

struct nsm_client;

/* The NSM globals handed to a module's start-up callback. */
struct nsm_globals {
    struct nsm_client *nc;  /* the module's NSM client */
    struct if_table *ift;   /* the interface table that the hooks watch */
};

typedef int (*NSM_NOTIFY_FN)(void *msg, void *arg);

/* One notification handler: message type and handler (two 32-bit words on the target). */
typedef struct {
    uint32_t type;
    NSM_NOTIFY_FN handler;
} NSM_NOTIFY_HDLR_T;

/* One include-module entry: module name, reserved (0), handler table, number of handlers (four 32-bit words
 * on the target). */
typedef struct {
    const char *module;
    uint32_t reserved;
    NSM_NOTIFY_HDLR_T *handlers;
    uint32_t count;
} NSM_INC_MODULE_T;

#if PLATFORM_PTR32
PLATFORM_ASSERT_LAYOUT(sizeof(NSM_NOTIFY_HDLR_T) == 8, "handler entry is two words");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_NOTIFY_HDLR_T, handler) == 4, "handler in word 1");
PLATFORM_ASSERT_LAYOUT(sizeof(NSM_INC_MODULE_T) == 16, "include-module entry is four words");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_INC_MODULE_T, reserved) == 4, "reserved value in word 1");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_INC_MODULE_T, handlers) == 8, "handler table in word 2");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_INC_MODULE_T, count) == 12, "handler count in word 3");
#endif

/* The link-aggregation notification NSM_LACP_NOTIFY_AGG_PORT_CONFIG. */
typedef struct {
    char agg_name[16];        /* offset 0: the aggregate (trunk) interface name */
    uint32_t info;            /* offset 16: not interpreted by the receivers */
    uint32_t member_ifindex;  /* offset 20: the physical port that joins or leaves */
    uint32_t change;          /* offset 24: 1 joined, 0 left */
} NSM_LACP_AGG_PORT_MSG_T;

PLATFORM_ASSERT_LAYOUT(offsetof(NSM_LACP_AGG_PORT_MSG_T, info) == 16, "info at offset 16");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_LACP_AGG_PORT_MSG_T, member_ifindex) == 20, "member at offset 20");
PLATFORM_ASSERT_LAYOUT(offsetof(NSM_LACP_AGG_PORT_MSG_T, change) == 24, "change at offset 24");

typedef int (*NSM_CLIENT_START_FN)(struct nsm_globals *ng);
typedef int (*NSM_IF_HOOK_FN)(struct interface *ifp);

PLATFORM_BEGIN_DECLS

/* Starts the module's NSM client. 0 on success; the library later calls start with the NSM globals. */
int NSM_CLIENT_Init_Module_Lib_WithDllMod_And_Start_Client(uint32_t arg, uint32_t *proto_info,
                                                           NSM_INC_MODULE_T *modules, int module_count,
                                                           NSM_CLIENT_START_FN start);
/* Subscribes the client to an NSM service. */
int nsm_client_set_service(struct nsm_client *nc, int service);
/* Adds a hook of a type (NSM_IF_HOOK_*) to an interface table. */
int if_add_hook(struct if_table *ift, int type, NSM_IF_HOOK_FN hook);

PLATFORM_END_DECLS

#endif
