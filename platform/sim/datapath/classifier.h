/*
 * The screening classifier: what the kernel filter decides for one Ethernet frame arriving on one port,
 * from the filter's own tables. Written once, in C, and compiled twice: by clang for the BPF target (the
 * program on the ports' tc ingress hook, screen.bpf.c) and by the host compilers (capture replay and
 * preview, the fuzz target, the PowerPC build).
 *
 * A DHCP server packet is an IPv4 UDP datagram from source port 67 whose BOOTP op is 2 (BOOTREPLY), in an
 * Ethernet II frame with up to two VLAN tags (0x8100 or 0x88A8). Only an unfragmented datagram or a first
 * fragment is looked at. Every other frame is "other" and passes untouched. A frame that may be a server
 * packet but is cut short before the filter can tell (the UDP header, the BOOTP op or the client hardware
 * address missing) is "malformed": the filter fails closed on it.
 *
 * A frame arrives on a port (logical port 1 to 768). Its ingress interface is the port, or the port's trunk
 * when the port is a trunk member. On an interface without screening every frame passes. On a screened one
 * a server packet passes when a rule holds its IPv4 source address as the server and holds the interface in
 * its ports, the rule for the packet's client (its chaddr) first, then the rule for all clients; otherwise it
 * is dropped, and so is a malformed packet there.
 *
 * dp_inspect parses a frame. For dp_classify and dp_account, the including file defines, before it includes
 * this header (again), the type of its tables as the macro DP_TABLES and three lookups into them:
 *   dp_u32 dp_trunk_of(DP_TABLES tables, dp_u32 lport)          the trunk (logical port) of a port, 0 for none
 *   int dp_screened(DP_TABLES tables, dp_u32 iface)              non-zero when screening is on for iface
 *   const struct dp_rule *dp_rule_of(DP_TABLES tables, const struct dp_rule_key *key)   the rule, or 0
 * and, for dp_account, three counters and a report:
 *   void dp_count(DP_TABLES tables, dp_u32 iface, int counter)   one more of DP_FORWARDED, DP_DROPPED or
 *                                                                DP_MALFORMED on iface
 *   void dp_hit(DP_TABLES tables, const struct dp_verdict *v)   one more packet permitted by v's rule
 *   void dp_report(DP_TABLES tables, const struct dp_verdict *v) an illegal server packet to report, when
 *                                                                the trap/log is on and it is due
 */
#ifndef SIM_DATAPATH_CLASSIFIER_H
#define SIM_DATAPATH_CLASSIFIER_H

#ifdef __bpf__
#include <linux/types.h>
typedef __u8 dp_u8;
typedef __u16 dp_u16;
typedef __u32 dp_u32;
typedef __u64 dp_u64;
#define DP_INLINE static __always_inline
#else
#include <stdint.h>
typedef uint8_t dp_u8;
typedef uint16_t dp_u16;
typedef uint32_t dp_u32;
typedef uint64_t dp_u64;
#define DP_INLINE static inline
#endif

#define DP_PORTS 768
/* The kernel's rules map holds at most this many rules. */
#define DP_MAX_RULES 1024
#define DP_PORT_WORDS 24
/* The parse reads no byte at or beyond this offset: two tags, the longest IPv4 header, the UDP header and
 * the BOOTP message up to the end of the client's hardware address end at byte 124. */
#define DP_HEADER_BYTES 128

/* A rule's key: the server's IPv4 address as its four octets in order, the client MAC (all zero: every
 * client). */
struct dp_rule_key {
    dp_u8 server[4];
    dp_u8 client[6];
    dp_u8 pad[2];
};

/* A rule's ports: a port list, 24 words in the machine's order, port p at bit 31 - ((p - 1) mod 32) of word
 * (p - 1) / 32; and, in the kernel's build, the rule's place in the table of hit counters. */
struct dp_rule {
    dp_u32 ports[DP_PORT_WORDS];
    dp_u32 slot;
};

/* The trap/log state (non-zero: on) and the suppress duration of its reports. */
struct dp_settings {
    dp_u32 trap;
    dp_u32 suppress_minutes;
};

/* What the data path counts per ingress interface: server packets forwarded, dropped (malformed ones
 * included), and malformed. */
struct dp_counters {
    dp_u64 forwarded;
    dp_u64 dropped;
    dp_u64 malformed;
};
enum { DP_FORWARDED, DP_DROPPED, DP_MALFORMED };

/* One illegal-server report, as the kernel program hands it to user space. */
struct dp_report {
    dp_u32 server; /* first octet most significant */
    dp_u32 iface;  /* logical port of the ingress interface */
    dp_u8 client[6];
    dp_u8 pad[2];
};

enum { DP_OTHER, DP_SERVER, DP_MALFORMED_FRAME };

/* The parse of a frame. */
struct dp_info {
    dp_u32 kind;   /* DP_OTHER, DP_SERVER or DP_MALFORMED_FRAME */
    dp_u32 server; /* IPv4 source address, first octet most significant (server and malformed) */
    dp_u8 client[6]; /* the first six octets of BOOTP chaddr (server only) */
};

/* What the classifier decided for a frame. */
struct dp_verdict {
    struct dp_info info;
    dp_u32 iface;     /* the ingress interface: the port, or its trunk */
    dp_u32 screened;  /* screening is on for iface (looked up for server and malformed packets only) */
    dp_u32 forwarded; /* the frame passes */
    dp_u32 has_rule;  /* a rule permitted the server packet: rule is its key, rule_slot its slot */
    dp_u32 rule_slot;
    struct dp_rule_key rule;
};

DP_INLINE dp_u32 dp_be16(const dp_u8 *p)
{
    return (dp_u32)p[0] << 8 | p[1];
}

DP_INLINE int dp_holds(const struct dp_rule *rule, dp_u32 lport)
{
    dp_u32 word = (lport - 1) / 32;

    /* One test for both ends: port 0 gives a word far beyond the list. */
    if (word >= DP_PORT_WORDS)
        return 0;
    return (rule->ports[word] & (0x80000000u >> ((lport - 1) % 32))) != 0;
}

/*
 * Parses the frame whose first bytes are at frame: len is the frame's whole length, of which at least
 * min(len, DP_HEADER_BYTES) bytes are readable there, up to end. tags_taken is the number of VLAN tags
 * already taken off the frame before it reached the parse (by a receiving NIC's offload), which count
 * towards the two. Multi-byte fields are read byte by byte, so the result is the same on either byte order.
 *
 * The tests against end never decide anything that the tests against len have not decided already; they
 * are there for the kernel's verifier, which lets a program read a packet where it has compared the address
 * with the packet's end.
 */
DP_INLINE void dp_inspect(const dp_u8 *frame, const dp_u8 *end, dp_u32 len, dp_u32 tags_taken,
                          struct dp_info *info)
{
    dp_u32 ip_start = 14;
    dp_u32 type;
    dp_u32 tags;
    dp_u32 header;
    dp_u32 total;
    dp_u32 datagram;
    dp_u32 bootp_length;
    const dp_u8 *ip;
    const dp_u8 *udp;
    const dp_u8 *bootp;
    int i;

    info->kind = DP_OTHER;
    info->server = 0;
    for (i = 0; i < 6; i++)
        info->client[i] = 0;
    if (len < 14)
        return;
    type = dp_be16(frame + 12);
    /* Each tag puts the next EtherType four bytes further on; a third tag lands as an EtherType that is not
     * IPv4. */
    for (tags = tags_taken; tags < 2 && (type == 0x8100 || type == 0x88A8); tags++) {
        if (len - ip_start < 4)
            return;
        ip_start += 4;
        type = dp_be16(frame + ip_start - 2);
    }
    if (type != 0x0800 || len - ip_start < 20)
        return;

    ip = frame + ip_start;
    if (ip + 20 > end)
        return;
    header = (dp_u32)(ip[0] & 0x0F) * 4;
    total = dp_be16(ip + 2);
    if (ip[0] >> 4 != 4 || header < 20 || ip[9] != 17 || (dp_be16(ip + 6) & 0x1FFF) != 0 || total < header)
        return;
    /* The datagram ends at its total length (Ethernet padding follows it) or where the frame ends, if
     * sooner. */
    datagram = len - ip_start < total ? len - ip_start : total;

    /* From here on a frame cut short may hide a server packet: it is malformed, named by its source. */
    info->kind = DP_MALFORMED_FRAME;
    info->server = (dp_u32)ip[12] << 24 | (dp_u32)ip[13] << 16 | (dp_u32)ip[14] << 8 | ip[15];
    if (datagram < header + 8)
        return;
    udp = ip + header;
    if (udp + 8 > end)
        return;
    if (dp_be16(udp) != 67) {
        info->kind = DP_OTHER;
        info->server = 0;
        return;
    }
    bootp_length = datagram - header - 8;
    bootp = udp + 8;
    if (bootp_length == 0 || bootp + 1 > end)
        return;
    if (bootp[0] != 2) {
        info->kind = DP_OTHER;
        info->server = 0;
        return;
    }
    if (bootp_length < 28 + 6 || bootp + 28 + 6 > end)
        return;
    info->kind = DP_SERVER;
    for (i = 0; i < 6; i++)
        info->client[i] = bootp[28 + i];
}

/* Whether a report of a server on an interface last reported at last_ns (had_last: ever) is due at now_ns
 * under a suppress duration of minutes. A time before the last report (another capture's clock) reports
 * again. */
DP_INLINE int dp_report_due(int had_last, dp_u64 last_ns, dp_u64 now_ns, dp_u32 minutes)
{
    return !had_last || now_ns < last_ns || now_ns - last_ns >= (dp_u64)minutes * 60 * 1000000000ull;
}

#endif /* SIM_DATAPATH_CLASSIFIER_H */

/* The part that reads the tables, once the including file has defined DP_TABLES and its lookups (it may
 * include this header a second time for it). */
#if defined(DP_TABLES) && !defined(SIM_DATAPATH_CLASSIFY_H)
#define SIM_DATAPATH_CLASSIFY_H

/* Classifies the frame that arrived on port lport against tables (the parse as for dp_inspect). Changes
 * nothing: dp_account does the counting. */
DP_INLINE void dp_classify(DP_TABLES tables, dp_u32 lport, const dp_u8 *frame, const dp_u8 *end, dp_u32 len,
                           dp_u32 tags_taken, struct dp_verdict *v)
{
    const struct dp_rule *rule;
    dp_u32 trunk;
    int i;

    dp_inspect(frame, end, len, tags_taken, &v->info);
    trunk = dp_trunk_of(tables, lport);
    v->iface = trunk != 0 ? trunk : lport;
    v->screened = 0;
    v->forwarded = 1;
    v->has_rule = 0;
    v->rule_slot = 0;
    for (i = 0; i < 4; i++)
        v->rule.server[i] = (dp_u8)(v->info.server >> (24 - 8 * i));
    for (i = 0; i < 6; i++)
        v->rule.client[i] = v->info.client[i];
    v->rule.pad[0] = 0;
    v->rule.pad[1] = 0;
    if (v->info.kind == DP_OTHER)
        return;
    v->screened = dp_screened(tables, v->iface) != 0;
    if (!v->screened)
        return;
    v->forwarded = 0;
    if (v->info.kind != DP_SERVER)
        return;
    /* The client's own rule first, then the rule for all clients. */
    rule = dp_rule_of(tables, &v->rule);
    if (rule == 0 || !dp_holds(rule, v->iface)) {
        for (i = 0; i < 6; i++)
            v->rule.client[i] = 0;
        rule = dp_rule_of(tables, &v->rule);
        if (rule == 0 || !dp_holds(rule, v->iface))
            return;
    }
    v->forwarded = 1;
    v->has_rule = 1;
    v->rule_slot = rule->slot;
}

/* Counts what v decided for a screened server or malformed packet: forwarded with its rule's hit, or
 * dropped (and malformed, or reported as an illegal server). */
DP_INLINE void dp_account(DP_TABLES tables, const struct dp_verdict *v)
{
    if (!v->screened || v->iface < 1 || v->iface > DP_PORTS)
        return;
    if (v->forwarded) {
        dp_count(tables, v->iface, DP_FORWARDED);
        dp_hit(tables, v);
        return;
    }
    dp_count(tables, v->iface, DP_DROPPED);
    if (v->info.kind == DP_MALFORMED_FRAME)
        dp_count(tables, v->iface, DP_MALFORMED);
    else
        dp_report(tables, v);
}

#endif /* DP_TABLES */
