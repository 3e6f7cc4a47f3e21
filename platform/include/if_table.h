/*
 * Interface tables, port identities and the interface-range parser.
 *
 * A port is named three ways: by interface name, by ifindex and by logical port number (lport, 1 to 768, its
 * bit in a port list). Physical Ethernet ports have ifindexes 5121 to 5760 and link-aggregation (trunk)
 * interfaces 5761 to 5888; the trunk id is ifindex - 5761.
 */
#ifndef PLATFORM_IF_TABLE_H
#define PLATFORM_IF_TABLE_H

#include "platform_types.h"

#define IF_NAME_MAX 20             /* characters of an interface name */
#define IF_NAME_BUF (IF_NAME_MAX + 1)

#define IF_PHY_IFINDEX_MIN 5121u
#define IF_PHY_IFINDEX_MAX 5760u
#define IF_TRUNK_IFINDEX_MIN 5761u
#define IF_TRUNK_IFINDEX_MAX 5888u

/* Type codes of if_check_if_type_by_ifname. */
#define IF_TYPE_OTHER 0
#define IF_TYPE_ETHERNET 1
#define IF_TYPE_TRUNK 2
#define IF_TYPE_VLAN 3

/* Values of the state byte of an interface record. */
#define IF_STATE_PRESENT 0
#define IF_STATE_DELETED_FOR_GOOD 1 /* the interface is being deleted for good */
#define IF_STATE_TRUNK_MEMBER 2     /* the port is a member of a link-aggregation group */

/* The platform's record of an interface. The name comes first, so a record may stand for its name. */
struct interface {
    char name[24];                /* offset 0: NUL-terminated, at most IF_NAME_MAX characters */
    uint32_t ifindex;             /* offset 24 */
    uint8_t platform_private[316];
    uint8_t state;                /* offset 344 */
    uint8_t reserved[3];
};

PLATFORM_ASSERT_LAYOUT(offsetof(struct interface, name) == 0, "interface name at offset 0");
PLATFORM_ASSERT_LAYOUT(offsetof(struct interface, ifindex) == 24, "interface ifindex at offset 24");
PLATFORM_ASSERT_LAYOUT(offsetof(struct interface, state) == 344, "interface state at offset 344");

/* An interface table (opaque). */
struct if_table;

/* Global context: holds the global interface table. */
struct if_global_ctx {
    struct if_table *ift;
};

/* Virtual-router context: its router id (0 = the default router), then its interface table. */
struct if_vr_ctx {
    uint32_t id;
    struct if_table *ift;
};

/* Parser state of an interface range, owned by the caller (on its stack). */
#define IF_RANGE_TEXT_MAX 8192
typedef struct {
    char text[IF_RANGE_TEXT_MAX]; /* the range text, copied by if_range_parser_init */
    uint32_t length;              /* characters in text */
    uint32_t pos;                 /* where the next piece starts */
    uint32_t next;                /* next number of the piece being walked */
    uint32_t last;                /* last number of the piece being walked */
    uint32_t in_piece;            /* non-zero while a piece of several names is walked */
    uint32_t error;               /* non-zero once the text was found malformed */
    char prefix[IF_NAME_BUF];     /* the name up to the walked number ("eth3." or "port-channel") */
    char name[IF_NAME_BUF];       /* the name handed out last */
} IF_RANGE_PARSER_T;

/* Validation callback: 0 accepts the name, 1 refuses it. */
struct cli;
typedef int (*IF_RANGE_VALIDATE_FN)(const char *name, struct cli *cli);

PLATFORM_BEGIN_DECLS

/* Identities; they follow from the numbering and need no table. */
uint32_t if_ifindex_to_st_lport(uint32_t ifindex);          /* 0 when not a port or trunk */
uint32_t if_st_lport_to_ifindex(uint32_t lport);            /* 0 when not a valid lport */
/* Writes the name of ifindex into a buffer of IF_NAME_BUF bytes; returns -1 when the ifindex has no name. */
int if_utl_ifindex_to_ifname(uint32_t ifindex, char *name);
/* The ifindex of a name, also for a trunk that does not exist yet; 0 when the name means nothing. */
uint32_t if_utl_ifname_to_ifindex(const char *name);
int if_check_if_type_by_ifname(const char *name);

/* Tables. */
struct interface *if_lookup_by_name(struct if_table *ift, const char *name);
struct interface *if_lookup_by_index(struct if_table *ift, uint32_t ifindex);
struct interface *ifg_lookup_by_name(struct if_table *ift, const char *name);
/* As ifg_lookup_by_name, but creates the record when it is missing (NULL only for an unusable name). */
struct interface *ifg_get_by_name(struct if_table *ift, const char *name);
struct interface *ifg_lookup_by_index(struct if_table *ift, uint32_t ifindex);

/* Range parser: init, then validate every name, then get the names one by one. */
void if_range_parser_init(const char *text, IF_RANGE_PARSER_T *parser);
/* Calls validate once per name of the range; 0 only when every name was accepted and the text is well formed. */
int if_range_parser_validate(IF_RANGE_PARSER_T *parser, struct cli *cli, IF_RANGE_VALIDATE_FN validate);
/* The next name, or NULL when the range is exhausted; *error is set non-zero when the walk failed. */
const char *if_range_parser_get_next(IF_RANGE_PARSER_T *parser, int *error);

PLATFORM_END_DECLS

#endif
