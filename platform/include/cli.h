/*
 * Command shell.
 *
 * A module installs static command records; the shell matches the operator's line against them and calls
 * the record's handler with the command context and the arguments. Tokens of a command string: a lower-case
 * word is a keyword; A.B.C.D an IPv4 address; MAC a MAC address; IFNAME an interface name; PORTRANGE a range
 * of interfaces; WORD, IFINDEX and ACTION one word; <lo-hi> an integer in that range; [...] an optional part.
 * Every non-keyword token yields one argument, in order; a typed optional part yields its keyword and its
 * value, an omitted one nothing. Argument k (counted from 1) is argv[k - 1].
 */
#ifndef PLATFORM_CLI_H
#define PLATFORM_CLI_H

#include "if_table.h"
#include "platform_types.h"

/* Modes. */
#define EXEC_MODE 4
#define CONFIG_MODE 5
#define INTERFACE_MODE 6

/* Privilege levels. */
#define CLI_PRIVILEGE_NORMAL 2
#define CLI_PRIVILEGE_MAX 20

/* Output flags of the command context, as set by the SNMP bridge. */
#define CLI_OUT_FLAG_PLAIN 0u
#define CLI_OUT_FLAG_TABLE 4u

/* Printf-like output function; "%r" prints the IPv4 address at the given address (network byte order). */
typedef int (*CLI_OUT_FN)(void *target, const char *format, ...);
/* Table-output operation of the SNMP bridge; its forms are those of uib_snmp.h. */
typedef int (*CLI_TABLE_OUT_FN)(void *destination, ...);

/* The table-output area, part of the command context, filled by the SNMP bridge. */
struct cli_table_area {
    uint32_t words[16];
};

/* Command context handed to every handler. */
struct cli {
    CLI_OUT_FN out;                   /* output function */
    void *out_target;                 /* its first argument */
    struct interface *current_if;     /* the interface of interface mode, or NULL */
    int mode;                         /* current mode */
    struct if_global_ctx *gctx;       /* global context */
    struct if_vr_ctx *vr;             /* virtual-router context */
    uint32_t out_flags;               /* CLI_OUT_FLAG_* */
    struct cli_table_area table_area; /* SNMP bridge table output */
    CLI_TABLE_OUT_FN table_out;       /* SNMP bridge table-output operation, or NULL */
};

typedef int (*CLI_HANDLER_FN)(struct cli *cli, int argc, char **argv);

/* Command record: command string, handler, help texts (one per token, NULL-terminated), five zero words. */
struct cli_element {
    const char *str;
    CLI_HANDLER_FN func;
    const char **help;
    uint32_t reserved[5];
};

/* The shell's command tree (opaque). */
struct cli_tree;

typedef int (*CLI_CONFIG_WRITE_FN)(struct cli *cli);
typedef int (*CLI_CONFIG_RESET_FN)(void);

PLATFORM_BEGIN_DECLS

/* Installs a record in a mode at the normal privilege level. 0 on success. */
int cli_install(struct cli_tree *ctree, int mode, struct cli_element *cel);
/* Installs a record in a mode at a privilege level; flags are reserved (0). 0 on success. */
int cli_install_gen(struct cli_tree *ctree, int mode, int privilege, uint16_t flags, struct cli_element *cel);
/* Registers a running-configuration writer; writers print in the order of their numbers. */
int cli_install_config(struct cli_tree *ctree, int order, CLI_CONFIG_WRITE_FN writer);
/* Registers a configuration reset. */
int cli_install_reset(struct cli_tree *ctree, CLI_CONFIG_RESET_FN reset);
/* Mode number of the configuration mode of an interface. */
int cli_get_ifmode(const char *ifname);
/* 1 when text is no MAC address; otherwise 0 with *format set: 1 six colon-separated pairs, 2 three
 * dot-separated groups of four, 3 six hyphen-separated pairs, 4 twelve digits. */
int cli_mac_address_is_valid(const char *text, int *format);
/* The value of a number: decimal from -2147483648 to 4294967295, or "0x" and up to 8 hex digits; values
 * above 2147483647 come back as the int of the same 32 bits. *status is negative when text is no number. */
int cmd_str2int(const char *text, int *status);

PLATFORM_END_DECLS

#endif
