// The kernel filter's data path in the Linux kernel: the classifier (classifier.h) built as a BPF program
// (screen.bpf.c) on the tc ingress hook of every port attached to the switch's Linux bridge, and its maps.
//
// The Linux bridge forwards; the program drops what the classifier drops. The maps hold what the kernel
// filter accepted, and the kernel filter is their only writer: it applies a message to its tables, then to
// the maps, and only then answers (kernel_filter.cpp). Builds without libbpf (the PowerPC cross build) and
// hosts without the rights to load BPF programs have no kernel data path: load() says why, and everything
// else of the switch works as before.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "datapath/classifier.h"
#include "kernel/sim_kernel.h"
#include "kernel/sim_traffic.h"
#include "portlist.h"

namespace sim::datapath {

// A rule's key in the classifier's form and back.
inline dp_rule_key key_of(const kernel::RuleKey &key) {
    dp_rule_key k{};
    std::copy(key.server.begin(), key.server.end(), k.server);
    std::copy(key.mac.begin(), key.mac.end(), k.client);
    return k;
}
inline kernel::RuleKey key_of(const dp_rule_key &k) {
    kernel::RuleKey key;
    std::copy_n(k.server, key.server.size(), key.server.begin());
    std::copy_n(k.client, key.mac.size(), key.mac.begin());
    return key;
}

// ---- The program and its maps (kernel_path.cpp)

// Loads the program and creates its maps, once, and fills them with the kernel filter's tables as they
// are. Returns the empty text when the data path is loaded, else why it cannot be ("% ..." text for the
// operator: no BPF in this build, or the rights that are missing).
std::string load();
bool loaded();
// While one lives, libbpf's own messages are not logged: for calls that are expected to fail.
class LibbpfQuiet {
public:
    LibbpfQuiet();
    ~LibbpfQuiet();
    LibbpfQuiet(const LibbpfQuiet &) = delete;
    LibbpfQuiet &operator=(const LibbpfQuiet &) = delete;
};
// Takes the program and its maps out of the kernel again (once nothing is attached any more).
void unload();
// The program's file descriptor for attaching it; -1 when not loaded.
int program_fd();

// Map writers, for the kernel filter (with its lock held) once it has changed its tables. Each changes one
// map element whole, so that a frame sees it before or after, never between. False when the kernel refused
// the update: the element is as it was.
bool write_rule(const kernel::RuleKey &key, const PORTLIST_T *ports);  // null ports: no such rule
bool write_screened(uint32_t lport, bool on);
bool write_settings(uint8_t trap, uint32_t minutes);
// Link aggregation as the data path knows it: trunk is the logical port of the port's trunk, 0 for none.
bool write_trunk(uint32_t lport, uint32_t trunk);
// The Linux interface ifindex is the port lport (0: no port of the switch any more).
bool write_port(uint32_t ifindex, uint32_t lport);

// The tables as the maps hold them, read back from the kernel.
kernel::Tables read_tables();
// The kernel's counters, summed over the CPUs, in the form of the host's (sim_traffic.h).
kernel::TrafficCounters read_counters();
// Sets the kernel's counters to 0 and forgets when each server was reported last.
void clear_counters();

// ---- Ports: Linux interfaces in the switch's bridge (ports.cpp)

struct PortStats {
    std::string port;       // ethS.P
    std::string host;       // the Linux interface
    std::string interface;  // the ingress interface the counters are of: the port, or its trunk
    uint64_t forwarded = 0;  // DHCP server packets the kernel forwarded on the port's ingress interface
    uint64_t dropped = 0;    // and dropped
    uint64_t malformed = 0;
};

// The bridge the ports join: an existing one of the host (--bridge), or "" for the switch's own, dhcpftr0,
// which the switch creates in its network namespace when it first needs it and deletes when it ends. Before
// anything else of this section.
void use_bridge(const std::string &name);
// Takes over what a switch before this one, ended without its clean-up (kill -9, a crash), left screening in
// the bridge: every interface of the bridge with the screening program's filter on its ingress hook becomes
// the port that the startup configuration attached it as, or else the one that program's maps give it, and
// the filter is swapped for one of this process's program in one step, so the interface is screened
// throughout. Once the boot has replayed the startup configuration, so that the new maps are whole when the
// first frame meets them.
void take_over();
// Puts the Linux interface host into the switch's bridge and attaches the program at its tc ingress hook,
// as the port lport named port. The empty text, or why not ("% ..."). An interface that a switch before
// this one left screening in the bridge is not taken out of it: before take_over() (the boot's replay) the
// attachment waits for take_over(), afterwards its filter is swapped at once, as take_over() does.
std::string attach(uint32_t lport, const std::string &port, const std::string &host);
// Takes both away again and leaves the interface as attach found it. The empty text, or why not.
std::string detach(uint32_t lport);
// The attachments in port order.
std::vector<PortStats> ports();
// The same without the counters: the port and its Linux interface, for the running configuration.
struct PortAttachment {
    std::string port;  // ethS.P
    std::string host;
};
std::vector<PortAttachment> attachments();
// Removes everything the switch put into the kernel (programs, maps, tc filters, its own bridge); at the
// end of the process, also on SIGTERM and SIGINT.
void shutdown();

}  // namespace sim::datapath
