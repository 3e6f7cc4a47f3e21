/*
 * The kernel filter's data path in the Linux kernel: the classifier on the tc ingress hook of every port
 * attached to the switch's bridge. It drops what the classifier drops and lets everything else go on to the
 * bridge. Its maps hold what the kernel filter accepted; user space (kernel_path.cpp) is their only writer.
 */
#include <linux/bpf.h>
#include <linux/pkt_cls.h>

#include <bpf/bpf_helpers.h>

#include "classifier.h"

/* The rules: key -> ports. An update replaces a rule whole. */
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, DP_MAX_RULES);
    __type(key, struct dp_rule_key);
    __type(value, struct dp_rule);
} rules SEC(".maps");

/* Screening on (1) or off (0), by logical port. */
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, DP_PORTS + 1);
    __type(key, __u32);
    __type(value, __u32);
} screened SEC(".maps");

/* The trunk (logical port) of each port, 0 for none. */
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, DP_PORTS + 1);
    __type(key, __u32);
    __type(value, __u32);
} trunks SEC(".maps");

/* The Linux ifindex of each attached interface -> its logical port. */
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, DP_PORTS);
    __type(key, __u32);
    __type(value, __u32);
} ports SEC(".maps");

/* The trap/log state and the suppress duration, in element 0. */
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct dp_settings);
} settings SEC(".maps");

/* Per ingress interface, per CPU. */
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, DP_PORTS + 1);
    __type(key, __u32);
    __type(value, struct dp_counters);
} counters SEC(".maps");

/* Server packets each rule permitted, per CPU, by the rule's slot. */
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, DP_MAX_RULES);
    __type(key, __u32);
    __type(value, __u64);
} rule_hits SEC(".maps");

/* Reports sent (element 0) and suppressed (element 1), per CPU. */
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 2);
    __type(key, __u32);
    __type(value, __u64);
} report_counts SEC(".maps");

/* When each (server, interface) was reported last, by the monotonic clock. */
struct report_key {
    __u32 server;
    __u32 iface;
};
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 4096);
    __type(key, struct report_key);
    __type(value, __u64);
} last_report SEC(".maps");

/* The reports on their way to user space. */
struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 64 * 1024);
} reports SEC(".maps");

#define DP_TABLES void *

static __always_inline dp_u32 dp_trunk_of(void *tables, dp_u32 lport)
{
    __u32 *trunk = bpf_map_lookup_elem(&trunks, &lport);

    (void)tables;
    return trunk ? *trunk : 0;
}

static __always_inline int dp_screened(void *tables, dp_u32 iface)
{
    __u32 *on = bpf_map_lookup_elem(&screened, &iface);

    (void)tables;
    return on && *on;
}

static __always_inline const struct dp_rule *dp_rule_of(void *tables, const struct dp_rule_key *key)
{
    (void)tables;
    return bpf_map_lookup_elem(&rules, key);
}

static __always_inline void dp_count(void *tables, dp_u32 iface, int counter)
{
    struct dp_counters *c = bpf_map_lookup_elem(&counters, &iface);

    (void)tables;
    if (!c)
        return;
    if (counter == DP_FORWARDED)
        c->forwarded++;
    else if (counter == DP_DROPPED)
        c->dropped++;
    else
        c->malformed++;
}

static __always_inline void dp_hit(void *tables, const struct dp_verdict *v)
{
    __u32 slot = v->rule_slot;
    __u64 *hits = bpf_map_lookup_elem(&rule_hits, &slot);

    (void)tables;
    if (hits)
        (*hits)++;
}

static __always_inline void dp_report_count(__u32 which)
{
    __u64 *count = bpf_map_lookup_elem(&report_counts, &which);

    if (count)
        (*count)++;
}

static __always_inline void dp_report(void *tables, const struct dp_verdict *v)
{
    __u32 zero = 0;
    struct dp_settings *s = bpf_map_lookup_elem(&settings, &zero);
    struct report_key key = {v->info.server, v->iface};
    __u64 now = bpf_ktime_get_ns();
    __u64 *last;
    struct dp_report *report;
    int i;

    (void)tables;
    if (!s || !s->trap)
        return;
    last = bpf_map_lookup_elem(&last_report, &key);
    if (!dp_report_due(last != 0, last ? *last : 0, now, s->suppress_minutes)) {
        dp_report_count(1);
        return;
    }
    bpf_map_update_elem(&last_report, &key, &now, BPF_ANY);
    report = bpf_ringbuf_reserve(&reports, sizeof(*report), 0);
    if (!report)
        return;
    report->server = v->info.server;
    report->iface = v->iface;
    for (i = 0; i < 6; i++)
        report->client[i] = v->info.client[i];
    report->pad[0] = 0;
    report->pad[1] = 0;
    bpf_ringbuf_submit(report, 0);
    dp_report_count(0);
}

#include "classifier.h"

SEC("tc")
int dhcpftr_screen(struct __sk_buff *skb)
{
    __u8 copy[DP_HEADER_BYTES];
    const __u8 *frame = (const __u8 *)(long)skb->data;
    const __u8 *end = (const __u8 *)(long)skb->data_end;
    struct dp_verdict verdict;
    __u32 ifindex = skb->ifindex;
    __u32 *lport = bpf_map_lookup_elem(&ports, &ifindex);
    __u32 len = skb->len;

    if (!lport)
        return TC_ACT_OK;
    /* The classifier reads the frame where it is when the bytes it may read are in the packet's linear
     * part, as they are for almost every frame; otherwise from a copy of the first bytes. */
    if (frame + DP_HEADER_BYTES > end) {
        __u32 copied = len < DP_HEADER_BYTES ? len : DP_HEADER_BYTES;

        __builtin_memset(copy, 0, sizeof(copy));
        if (copied < 14 || bpf_skb_load_bytes(skb, 0, copy, copied) != 0)
            return TC_ACT_OK;
        frame = copy;
        end = copy + DP_HEADER_BYTES;
    }
    dp_classify(0, *lport, frame, end, len, skb->vlan_present ? 1 : 0, &verdict);
    dp_account(0, &verdict);
    return verdict.forwarded ? TC_ACT_OK : TC_ACT_SHOT;
}

char LICENSE[] SEC("license") = "GPL";
