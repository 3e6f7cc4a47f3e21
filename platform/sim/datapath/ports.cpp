// Ports on Linux interfaces (sim_datapath.h): each attached interface is a port of the switch's Linux bridge,
// with the screening program on its tc ingress hook. The bridge forwards; the program drops what the
// classifier drops before the bridge sees it.
//
// Order matters, so that an interface never forwards unscreened: attach writes the interface's port into
// the maps, puts the filter on the hook, and only then the interface into the bridge; detach takes the
// interface out of the bridge first, then the filter off the hook.
//
// What detach has to restore is kept in the kernel, in the filter's handle (kHandle plus kWasMember and
// kOwnQdisc), so that a switch that takes the ports over after a crash of the one before still knows it.
// The port of an interface it takes over is the one the startup configuration attaches it as; an
// interface the configuration does not name keeps the one the "ports" map of the program it replaces gives
// it. The boot's replay runs before the take-over: an attach of such an interface only notes the port
// (waiting), and take_over() swaps the filter once the whole configuration is in the new maps.
//
// Everything here runs on the main loop's thread: the shell's commands and the start and end of the process.
#include "datapath/sim_datapath.h"

#include <net/if.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "chassis/sim_chassis.h"
#include "if_table.h"
#include "qvlog.h"

#if SIM_HAVE_BPF
#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <linux/if_link.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/link/bridge.h>
#include <netlink/route/link/inet6.h>
#endif

namespace sim::datapath {

#if SIM_HAVE_BPF
namespace {

constexpr int kLogModule = 1;
constexpr char kOwnBridge[] = "dhcpftr0";
constexpr char kProgramName[] = "dhcpftr_screen";
constexpr char kPortsMap[] = "ports";
// The screening filter on an ingress hook: priority 1, so it runs before any other filter there, and one of
// four handles.
constexpr uint32_t kPriority = 1;
constexpr uint32_t kHandle = 0xdcf70;
constexpr uint32_t kWasMember = 1;  // the interface was in the bridge before: detach leaves it there
constexpr uint32_t kOwnQdisc = 2;   // the hook's clsact qdisc is the switch's: detach removes it

void say(int level, const std::string &text) {
    qvprintf(kLogModule, 0, level, QVLOG_FLAG_NEW_LINE, "ports: %s\n", text.c_str());
}

std::string netlink_error(int error) { return nl_geterror(error < 0 ? -error : error); }
std::string system_error(int error) { return std::strerror(error < 0 ? -error : error); }

struct LinkPut {
    void operator()(rtnl_link *link) const { rtnl_link_put(link); }
};
using Link = std::unique_ptr<rtnl_link, LinkPut>;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

bpf_tc_hook hook_of(int ifindex, bpf_tc_attach_point point = BPF_TC_INGRESS) {
    bpf_tc_hook hook{};
    hook.sz = sizeof hook;
    hook.ifindex = ifindex;
    hook.attach_point = point;
    return hook;
}

bpf_tc_opts filter_of(uint32_t handle, int program = 0, uint32_t flags = 0) {
    bpf_tc_opts opts{};
    opts.sz = sizeof opts;
    opts.handle = handle;
    opts.priority = kPriority;
    opts.prog_fd = program;
    opts.flags = flags;
    return opts;
}

// A screening filter found on an interface's ingress hook.
struct Filter {
    uint32_t handle = 0;  // 0: none at any of the handles
    uint32_t program = 0; // the program's id
    bool ours = false;    // the program is the screening program (of this process or one before)
};

bool is_screening_program(uint32_t id) {
    Fd fd(bpf_prog_get_fd_by_id(id));
    bpf_prog_info info{};
    uint32_t length = sizeof info;
    return fd.fd >= 0 && bpf_obj_get_info_by_fd(fd.fd, &info, &length) == 0 &&
           std::strncmp(info.name, kProgramName, sizeof info.name) == 0;
}

Filter filter_on(int ifindex) {
    // A query at a handle without a filter fails, as expected: libbpf says nothing of it meanwhile.
    const LibbpfQuiet quiet;
    const bpf_tc_hook hook = hook_of(ifindex);
    Filter found;
    for (uint32_t flags = 0; flags <= (kWasMember | kOwnQdisc) && found.handle == 0; ++flags) {
        bpf_tc_opts opts = filter_of(kHandle | flags);
        if (bpf_tc_query(&hook, &opts) == 0)
            found = {kHandle | flags, opts.prog_id, is_screening_program(opts.prog_id)};
    }
    return found;
}

// The logical port that the "ports" map of the program id gives the interface, 0 for none.
uint32_t port_in_program(uint32_t id, int ifindex) {
    Fd program(bpf_prog_get_fd_by_id(id));
    bpf_prog_info info{};
    uint32_t length = sizeof info;
    if (program.fd < 0 || bpf_obj_get_info_by_fd(program.fd, &info, &length) != 0)
        return 0;
    std::vector<uint32_t> maps(info.nr_map_ids);
    info = bpf_prog_info{};
    info.nr_map_ids = static_cast<uint32_t>(maps.size());
    info.map_ids = reinterpret_cast<uintptr_t>(maps.data());
    length = sizeof info;
    if (bpf_obj_get_info_by_fd(program.fd, &info, &length) != 0)
        return 0;
    for (uint32_t map_id : maps) {
        Fd map(bpf_map_get_fd_by_id(map_id));
        bpf_map_info map_info{};
        uint32_t map_length = sizeof map_info;
        if (map.fd < 0 || bpf_obj_get_info_by_fd(map.fd, &map_info, &map_length) != 0 ||
            std::strncmp(map_info.name, kPortsMap, sizeof map_info.name) != 0 || map_info.key_size != 4 ||
            map_info.value_size != 4)
            continue;
        const uint32_t key = static_cast<uint32_t>(ifindex);
        uint32_t lport = 0;
        return bpf_map_lookup_elem(map.fd, &key, &lport) == 0 ? lport : 0;
    }
    return 0;
}

// The name of a port of the switch by its logical port, or "" when lport names none.
std::string port_name_of(uint32_t lport) {
    const uint32_t ifindex = if_st_lport_to_ifindex(lport);
    return ids::slot_port_of(ifindex) ? ids::name_of(ifindex).value_or("") : "";
}

std::string host_name_of(int ifindex) {
    char name[IF_NAMESIZE] = {};
    return if_indextoname(static_cast<unsigned>(ifindex), name) != nullptr ? name : "";
}

struct Attachment {
    std::string port;
    std::string host;
    int ifindex = 0;
    uint32_t handle = 0;
    bool waiting = false;  // left screened by a switch before, attached by the replay: for take_over()
};

class Ports {
public:
    void use_bridge(const std::string &name) {
        own_ = name.empty();
        bridge_name_ = own_ ? kOwnBridge : name;
    }

    std::string attach(uint32_t lport, const std::string &port, const std::string &host) {
        forget_vanished();
        if (auto it = attached_.find(lport); it != attached_.end())
            return "% " + port + " is attached to " + it->second.host + " already";
        for (const auto &[other, a] : attached_)
            if (a.host == host)
                return "% " + host + " is attached to " + a.port + " already";
        const int ifindex = static_cast<int>(if_nametoindex(host.c_str()));
        if (ifindex == 0)
            return "% No such host interface " + host;
        if (std::string why = load(); !why.empty())
            return why;
        if (std::string why = bridge_ready(); !why.empty())
            return why;
        if (ifindex == bridge_)
            return "% " + host + " is the switch's bridge";
        int error = 0;
        const Link link = link_of(ifindex, nullptr, error);
        if (!link)
            return "% Cannot attach " + host + ": " + netlink_error(error);
        const int master = rtnl_link_get_master(link.get());
        if (master != 0 && master != bridge_)
            return "% " + host + " is enslaved to " + host_name_of(master);
        const Filter old = filter_on(ifindex);
        if (old.handle != 0 && !old.ours)
            return "% " + host + " has a filter of another program at the screening filter's place";
        // Screened in the bridge by a switch before this one: it stays there, screened, and keeps the old
        // filter's handle (what detach restores); only the program changes.
        if (old.handle != 0 && master == bridge_) {
            Attachment a{port, host, ifindex, old.handle, !took_over_};
            if (a.waiting) {
                attached_[lport] = a;
                return "";
            }
            const std::string why = swap_in(lport, a);
            return why.empty() ? "" : "% Cannot attach " + host + ": " + why;
        }

        // A screening filter left over from a switch before (not in the bridge, so not taken over) gives
        // way to this one; whether its qdisc was created for it still holds.
        bpf_tc_hook hook = hook_of(ifindex);
        uint32_t handle = kHandle | (master == bridge_ ? kWasMember : 0) | (old.handle & kOwnQdisc);
        if (!write_port(static_cast<uint32_t>(ifindex), lport))
            return "% Cannot attach " + host + ": the port cannot be written into the kernel";
        if (old.handle == 0) {
            const int created = bpf_tc_hook_create(&hook);
            if (created != 0 && created != -EEXIST) {
                write_port(static_cast<uint32_t>(ifindex), 0);
                return "% Cannot attach " + host + ": " + system_error(created);
            }
            handle |= created == 0 ? kOwnQdisc : 0;
        }
        bpf_tc_opts filter = filter_of(handle, program_fd(), old.handle == handle ? BPF_TC_F_REPLACE : 0);
        std::string why;
        if (error = bpf_tc_attach(&hook, &filter); error != 0)
            why = "% Cannot attach " + host + ": " + system_error(error);
        else if (master == 0 && (error = rtnl_link_enslave_ifindex(socket_, bridge_, ifindex)) < 0)
            why = "% Cannot put " + host + " into " + bridge_name_ + ": " + netlink_error(error);
        if (!why.empty()) {
            remove_filter(ifindex, handle, false);
            return why;
        }
        if (old.handle != 0 && old.handle != handle)
            remove_filter(ifindex, old.handle & ~kOwnQdisc, false);
        attached_[lport] = {port, host, ifindex, handle};
        return "";
    }

    std::string detach(uint32_t lport) {
        forget_vanished();
        auto it = attached_.find(lport);
        if (it == attached_.end())
            return "% The port is not attached";
        if (std::string why = release(it->second); !why.empty())
            return why;
        attached_.erase(it);
        return "";
    }

    std::vector<PortStats> stats() {
        forget_vanished();
        const kernel::TrafficCounters counters = read_counters();
        std::vector<PortStats> list;
        for (const auto &[lport, a] : attached_) {
            const uint32_t trunk = kernel::trunk_of(lport);
            const uint32_t ingress = trunk != 0 ? trunk : lport;
            PortStats s{a.port, a.host, ids::name_of(if_st_lport_to_ifindex(ingress)).value_or(a.port)};
            if (auto c = counters.interfaces.find(ingress); c != counters.interfaces.end()) {
                s.forwarded = c->second.forwarded;
                s.dropped = c->second.dropped;
                s.malformed = c->second.malformed;
            }
            list.push_back(std::move(s));
        }
        return list;
    }

    void take_over() {
        took_over_ = true;
        take_over_members();
        // A waiting attachment whose interface no longer carries the old filter in the bridge is attached
        // as any other.
        std::vector<std::pair<uint32_t, Attachment>> waiting;
        for (const auto &[lport, a] : attached_)
            if (a.waiting)
                waiting.emplace_back(lport, a);
        for (const auto &[lport, a] : waiting) {
            attached_.erase(lport);
            if (std::string why = attach(lport, a.port, a.host); !why.empty())
                say(QVLOG_LEVEL_WARNING, a.port + " on " + a.host + " not attached: " + why.substr(2));
        }
    }

    std::vector<PortAttachment> attachments() {
        forget_vanished();
        std::vector<PortAttachment> list;
        for (const auto &[lport, a] : attached_)
            list.push_back({a.port, a.host});
        return list;
    }

    void shutdown() {
        forget_vanished();
        for (auto it = attached_.begin(); it != attached_.end(); it = attached_.erase(it))
            if (std::string why = release(it->second); !why.empty())
                say(QVLOG_LEVEL_ERROR, it->second.port + " on " + it->second.host + " left: " + why.substr(2));
        if (own_ && bridge_ > 0) {
            Link bridge(rtnl_link_alloc());
            rtnl_link_set_ifindex(bridge.get(), bridge_);
            if (int error = rtnl_link_delete(socket_, bridge.get()); error < 0)
                say(QVLOG_LEVEL_ERROR, bridge_name_ + " left: " + netlink_error(error));
        }
        bridge_ = 0;
        unload();
        if (claim_ >= 0)
            ::close(claim_);
        claim_ = -1;
        if (socket_ != nullptr)
            nl_socket_free(socket_);
        socket_ = nullptr;
    }

private:
    // The kernel's record of an interface, by ifindex or by name; error is libnl's code when there is none.
    Link link_of(int ifindex, const char *name, int &error) const {
        rtnl_link *link = nullptr;
        error = rtnl_link_get_kernel(socket_, ifindex, name, &link);
        return Link(error < 0 ? nullptr : link);
    }

    // The bridge, claimed for this process and, when it is the switch's own, created and up. The empty
    // text, or why not.
    std::string bridge_ready() {
        if (bridge_ > 0)
            return "";
        if (socket_ == nullptr) {
            nl_sock *s = nl_socket_alloc();
            if (s == nullptr || nl_connect(s, NETLINK_ROUTE) < 0) {
                nl_socket_free(s);
                return "% Cannot reach the kernel's routing netlink";
            }
            socket_ = s;
        }
        if (std::string why = claim(); !why.empty())
            return why;
        int error = 0;
        const Link bridge = link_of(0, bridge_name_.c_str(), error);
        if (!bridge && (error == -NLE_OBJ_NOTFOUND || error == -NLE_NODEV) && own_)
            return create_bridge();
        if (!bridge)
            return own_ ? "% Cannot find " + bridge_name_ + ": " + netlink_error(error) : "% No bridge " + bridge_name_;
        if (!rtnl_link_is_bridge(bridge.get()))
            return "% " + bridge_name_ + " is not a bridge";
        bridge_ = rtnl_link_get_ifindex(bridge.get());
        return own_ ? bring_up() : "";
    }

    // One switch per bridge in a network namespace: the claim is an abstract unix socket named after the
    // bridge, which is per network namespace and goes with the process that holds it, also after kill -9.
    std::string claim() {
        if (claim_ >= 0)
            return "";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const std::string name = std::string(1, '\0') + "dhcpftr/bridge/" + bridge_name_;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address),
                             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())) != 0) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            return error == EADDRINUSE ? "% " + bridge_name_ + " is the bridge of another switch"
                                       : "% Cannot claim " + bridge_name_ + ": " + system_error(error);
        }
        claim_ = fd;
        return "";
    }

    // The switch's own bridge: no IPv6 link-local address (no address at all), up.
    std::string create_bridge() {
        Link bridge(rtnl_link_bridge_alloc());
        rtnl_link_set_name(bridge.get(), bridge_name_.c_str());
        int error = rtnl_link_add(socket_, bridge.get(), NLM_F_CREATE | NLM_F_EXCL);
        if (error < 0)
            return "% Cannot create " + bridge_name_ + ": " + netlink_error(error);
        const Link made = link_of(0, bridge_name_.c_str(), error);
        if (!made)
            return "% Cannot create " + bridge_name_ + ": " + netlink_error(error);
        bridge_ = rtnl_link_get_ifindex(made.get());
        Link change(rtnl_link_alloc());
        // Without IPv6 in the namespace there is no mode to set, and no address either.
        rtnl_link_inet6_set_addr_gen_mode(change.get(), IN6_ADDR_GEN_MODE_NONE);
        rtnl_link_change(socket_, made.get(), change.get(), 0);
        return bring_up();
    }

    std::string bring_up() {
        Link bridge(rtnl_link_alloc()), change(rtnl_link_alloc());
        rtnl_link_set_ifindex(bridge.get(), bridge_);
        rtnl_link_set_flags(change.get(), IFF_UP);
        if (int error = rtnl_link_change(socket_, bridge.get(), change.get(), 0); error < 0) {
            bridge_ = 0;
            return "% Cannot bring " + bridge_name_ + " up: " + netlink_error(error);
        }
        return "";
    }

    // Takes over every interface of the bridge that a switch before this one left screening.
    void take_over_members() {
        if (if_nametoindex(bridge_name_.c_str()) == 0)
            return;
        if (std::string why = bridge_ready(); !why.empty()) {
            say(QVLOG_LEVEL_WARNING, "nothing taken over: " + why.substr(2));
            return;
        }
        nl_cache *cache = nullptr;
        if (int error = rtnl_link_alloc_cache(socket_, AF_UNSPEC, &cache); error < 0) {
            say(QVLOG_LEVEL_WARNING, "nothing taken over: " + netlink_error(error));
            return;
        }
        std::vector<int> members;
        for (nl_object *o = nl_cache_get_first(cache); o != nullptr; o = nl_cache_get_next(o)) {
            rtnl_link *link = reinterpret_cast<rtnl_link *>(o);
            if (rtnl_link_get_master(link) == bridge_)
                members.push_back(rtnl_link_get_ifindex(link));
        }
        nl_cache_free(cache);
        for (int ifindex : members)
            take_over(ifindex);
    }

    // Takes one interface of the bridge over, when a screening filter of a switch before is on it: as the
    // port the replay attached it as (waiting), or else as the one the old program's maps give it.
    void take_over(int ifindex) {
        const Filter old = filter_on(ifindex);
        if (!old.ours || old.program == program_id())
            return;
        const std::string host = host_name_of(ifindex);
        if (std::string why = load(); !why.empty()) {
            say(QVLOG_LEVEL_WARNING, host + " keeps the screening of the switch before: " + why.substr(2));
            return;
        }
        uint32_t lport = 0;
        std::string port;
        const auto waiting = std::find_if(attached_.begin(), attached_.end(), [ifindex](const auto &entry) {
            return entry.second.waiting && entry.second.ifindex == ifindex;
        });
        if (waiting != attached_.end()) {
            lport = waiting->first;
            port = waiting->second.port;
            attached_.erase(waiting);
        } else {
            lport = port_in_program(old.program, ifindex);
            port = port_name_of(lport);
        }
        const Attachment a{port, host, ifindex, old.handle};
        if (port.empty() || attached_.count(lport) != 0) {
            const std::string why = release(a);
            say(QVLOG_LEVEL_WARNING, host + " had no port of its own; " +
                                         (why.empty() ? "detached" : "left: " + why.substr(2)));
            return;
        }
        if (std::string why = swap_in(lport, a); !why.empty()) {
            say(QVLOG_LEVEL_WARNING, host + " keeps the screening of the switch before: " + why);
            return;
        }
        say(QVLOG_LEVEL_WARNING, port + " on " + host + " taken over");
    }

    // Writes the port lport of a's interface into the maps, then swaps the filter of a switch before on
    // its hook for one of this process's program, at the same handle, in one step of the kernel, and
    // records the attachment. The empty text, or why not (no "% "): the old filter then stays.
    std::string swap_in(uint32_t lport, Attachment a) {
        const auto ifindex = static_cast<uint32_t>(a.ifindex);
        if (!write_port(ifindex, lport))
            return "the port cannot be written into the kernel";
        const bpf_tc_hook hook = hook_of(a.ifindex);
        bpf_tc_opts filter = filter_of(a.handle, program_fd(), BPF_TC_F_REPLACE);
        if (int error = bpf_tc_attach(&hook, &filter); error != 0) {
            write_port(ifindex, 0);
            return system_error(error);
        }
        a.waiting = false;
        attached_[lport] = a;
        return "";
    }

    // An interface that is gone took its filter and its bridge membership along: its attachment ends.
    void forget_vanished() {
        std::erase_if(attached_, [](const auto &entry) {
            const Attachment &a = entry.second;
            if (!host_name_of(a.ifindex).empty())
                return false;
            write_port(static_cast<uint32_t>(a.ifindex), 0);
            say(QVLOG_LEVEL_WARNING, a.port + " detached: " + a.host + " is gone");
            return true;
        });
    }

    // The id of this process's program, 0 when not loaded.
    static uint32_t program_id() {
        bpf_prog_info info{};
        uint32_t length = sizeof info;
        return program_fd() >= 0 && bpf_obj_get_info_by_fd(program_fd(), &info, &length) == 0 ? info.id : 0;
    }

    // Takes an attached interface out of the bridge (unless it was there before), then its filter away,
    // and its qdisc when it was created for the filter.
    std::string release(const Attachment &a) {
        if ((a.handle & kWasMember) == 0)
            if (int error = rtnl_link_release_ifindex(socket_, a.ifindex); error < 0)
                return "% Cannot take " + a.host + " out of " + bridge_name_ + ": " + netlink_error(error);
        remove_filter(a.ifindex, a.handle, true);
        return "";
    }

    void remove_filter(int ifindex, uint32_t handle, bool logged) {
        const bpf_tc_hook hook = hook_of(ifindex);
        const bpf_tc_opts filter = filter_of(handle);
        if (int error = bpf_tc_detach(&hook, &filter); error != 0 && logged)
            say(QVLOG_LEVEL_ERROR, "the filter on " + host_name_of(ifindex) + " stays: " + system_error(error));
        if ((handle & kOwnQdisc) != 0) {
            bpf_tc_hook qdisc = hook_of(ifindex, static_cast<bpf_tc_attach_point>(BPF_TC_INGRESS | BPF_TC_EGRESS));
            bpf_tc_hook_destroy(&qdisc);
        }
        write_port(static_cast<uint32_t>(ifindex), 0);
    }

    std::string bridge_name_ = kOwnBridge;
    bool own_ = true;
    nl_sock *socket_ = nullptr;
    int claim_ = -1;
    int bridge_ = 0;  // the bridge's ifindex once it is ready
    bool took_over_ = false;  // take_over() ran: the boot's replay is over
    std::map<uint32_t, Attachment> attached_;  // by logical port
};

Ports &ports_of_switch() {
    static Ports instance;
    return instance;
}

}  // namespace

void use_bridge(const std::string &name) { ports_of_switch().use_bridge(name); }
void take_over() { ports_of_switch().take_over(); }
std::string attach(uint32_t lport, const std::string &port, const std::string &host) {
    return ports_of_switch().attach(lport, port, host);
}
std::string detach(uint32_t lport) { return ports_of_switch().detach(lport); }
std::vector<PortStats> ports() { return ports_of_switch().stats(); }
std::vector<PortAttachment> attachments() { return ports_of_switch().attachments(); }
void shutdown() { ports_of_switch().shutdown(); }

#else  // no BPF in this build: nothing is ever attached

void use_bridge(const std::string &) {}
void take_over() {}
std::string attach(uint32_t, const std::string &, const std::string &) { return load(); }
std::string detach(uint32_t) { return "% The port is not attached"; }
std::vector<PortStats> ports() { return {}; }
std::vector<PortAttachment> attachments() { return {}; }
void shutdown() { unload(); }

#endif

}  // namespace sim::datapath
