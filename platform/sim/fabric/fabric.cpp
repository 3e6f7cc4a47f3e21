// The switching fabric (sim_fabric.h): AF_PACKET ports and the learning switch on its own thread.
#include "fabric/sim_fabric.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "kernel/sim_traffic.h"
#include "qvlog.h"

namespace sim::fabric {
namespace {

constexpr int kLogModule = 1;
constexpr std::size_t kMaxFrame = 65536;
constexpr std::size_t kTagLength = 4;
constexpr int kBurst = 32;  // frames read from one port with one call, before the others get their turn

// One attached port: its socket (closed with the last reference, so the fabric's thread can finish a frame
// on a port being detached) and its counters.
struct Port {
    uint32_t lport = 0;
    std::string name;
    std::string host;
    int fd = -1;
    std::atomic<uint64_t> received{0}, forwarded{0}, dropped{0}, sent{0};

    ~Port() {
        if (fd >= 0)
            ::close(fd);
    }
};

using PortPtr = std::shared_ptr<Port>;

std::string error_text(int error) { return std::strerror(error); }

// Opens a promiscuous AF_PACKET socket on the interface; the socket or -1 with the reason.
int open_socket(const std::string &host, std::string &reason) {
    const unsigned index = if_nametoindex(host.c_str());
    if (index == 0) {
        reason = "% No such host interface " + host;
        return -1;
    }
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        reason = "% Cannot open " + host + ": " + error_text(errno);
        return -1;
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(index);
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = static_cast<int>(index);
    promiscuous.mr_type = PACKET_MR_PROMISC;
    const int on = 1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0 ||
        ::setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0) {
        reason = "% Cannot open " + host + ": " + error_text(errno);
        ::close(fd);
        return -1;
    }
    // Frames this socket sends are not read back (older kernels: skipped by their packet type).
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    return fd;
}

uint64_t mac_at(const uint8_t *bytes) {
    uint64_t mac = 0;
    for (int i = 0; i < 6; ++i)
        mac = mac << 8 | bytes[i];
    return mac;
}

class Fabric {
public:
    ~Fabric() { stop(); }

    std::string attach(uint32_t lport, const std::string &name, const std::string &host) {
        std::lock_guard lock(mutex_);
        for (const PortPtr &port : ports_) {
            if (port->lport == lport)
                return "% " + name + " is attached to " + port->host + " already";
            if (port->host == host)
                return "% " + host + " is attached to " + port->name + " already";
        }
        std::string reason;
        const int fd = open_socket(host, reason);
        if (fd < 0)
            return reason;
        auto port = std::make_shared<Port>();
        port->lport = lport;
        port->name = name;
        port->host = host;
        port->fd = fd;
        ports_.push_back(port);
        std::sort(ports_.begin(), ports_.end(), [](const PortPtr &a, const PortPtr &b) { return a->lport < b->lport; });
        changed_locked();
        if (!thread_.joinable()) {
            wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            thread_ = std::thread([this] { run(); });
        }
        return "";
    }

    std::string detach(uint32_t lport) {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(ports_.begin(), ports_.end(), [lport](const PortPtr &p) { return p->lport == lport; });
        if (it == ports_.end())
            return "% The port is not attached";
        ports_.erase(it);
        changed_locked();
        return "";
    }

    std::vector<PortStats> stats() {
        std::lock_guard lock(mutex_);
        std::vector<PortStats> list;
        for (const PortPtr &p : ports_)
            list.push_back({p->name, p->host, p->received.load(), p->forwarded.load(), p->dropped.load(),
                            p->sent.load()});
        return list;
    }

private:
    void changed_locked() {
        ++generation_;
        if (wake_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
        }
    }

    void stop() {
        if (!thread_.joinable())
            return;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            changed_locked();
        }
        thread_.join();
        ::close(wake_);
    }

    // The fabric's thread: waits on every attached port and the wake-up, and switches what arrives.
    void run() {
        std::vector<PortPtr> ports;
        std::vector<pollfd> polled;
        uint64_t seen = ~uint64_t{0};
        auto burst = std::make_unique<Burst>();
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return;
                if (seen != generation_) {
                    ports = ports_;
                    seen = generation_;
                    forget_departed(ports);
                }
            }
            polled.clear();
            polled.push_back({wake_, POLLIN, 0});
            for (const PortPtr &port : ports)
                polled.push_back({port->fd, POLLIN, 0});
            if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR)
                return;
            if ((polled[0].revents & POLLIN) != 0) {
                uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
            }
            for (std::size_t i = 0; i < ports.size(); ++i) {
                const short events = polled[i + 1].revents;
                if ((events & (POLLERR | POLLNVAL | POLLHUP)) != 0 && (events & POLLIN) == 0)
                    vanish(ports[i], "it reports an error");
                else if ((events & POLLIN) != 0)
                    receive(ports[i], ports, *burst);
            }
        }
    }

    // The frames of one burst: read with one call, switched one by one, then sent with one call per port.
    struct Burst {
        std::vector<uint8_t> data = std::vector<uint8_t>(kBurst * (kMaxFrame + kTagLength));
        std::array<mmsghdr, kBurst> in{};
        std::array<iovec, kBurst> in_data{};
        std::array<sockaddr_ll, kBurst> from{};
        std::array<std::array<char, CMSG_SPACE(sizeof(tpacket_auxdata))>, kBurst> control{};
        std::map<uint32_t, std::vector<mmsghdr>> out;  // by port
        std::vector<iovec> out_data = std::vector<iovec>(kBurst);
        std::vector<const Port *> targets;  // of the frame being switched

        uint8_t *slot(int i) { return data.data() + static_cast<std::size_t>(i) * (kMaxFrame + kTagLength); }
    };

    // Reads a burst of frames from a port and switches them.
    void receive(const PortPtr &in, const std::vector<PortPtr> &ports, Burst &burst) {
        for (int i = 0; i < kBurst; ++i) {
            // Room before each frame for a VLAN tag to put back.
            burst.in_data[i] = {burst.slot(i) + kTagLength, kMaxFrame};
            msghdr &message = burst.in[i].msg_hdr;
            message = msghdr{};
            message.msg_name = &burst.from[i];
            message.msg_namelen = sizeof burst.from[i];
            message.msg_iov = &burst.in_data[i];
            message.msg_iovlen = 1;
            message.msg_control = burst.control[i].data();
            message.msg_controllen = burst.control[i].size();
        }
        const int count = ::recvmmsg(in->fd, burst.in.data(), kBurst, MSG_TRUNC, nullptr);
        if (count < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                vanish(in, error_text(errno));
            return;
        }
        for (auto &[port, messages] : burst.out)
            messages.clear();
        for (int i = 0; i < count; ++i) {
            const std::size_t length = burst.in[i].msg_len;
            if (burst.from[i].sll_pkttype == PACKET_OUTGOING || (burst.in[i].msg_hdr.msg_flags & MSG_TRUNC) != 0 ||
                length > kMaxFrame || length < 2 * 6 + 2)
                continue;
            uint8_t *frame = burst.slot(i) + kTagLength;
            std::size_t size = length;
            put_back_tag(burst.in[i].msg_hdr, frame, size);
            burst.out_data[i] = {frame, size};
            switch_frame(in, ports, frame, size, burst.targets);
            for (const Port *out : burst.targets) {
                mmsghdr message{};
                message.msg_hdr.msg_iov = &burst.out_data[i];
                message.msg_hdr.msg_iovlen = 1;
                burst.out[out->lport].push_back(message);
            }
        }
        for (const PortPtr &out : ports) {
            auto pending = burst.out.find(out->lport);
            if (pending == burst.out.end() || pending->second.empty())
                continue;
            const int sent = ::sendmmsg(out->fd, pending->second.data(), pending->second.size(), 0);
            if (sent > 0)
                out->sent.fetch_add(static_cast<uint64_t>(sent), std::memory_order_relaxed);
        }
    }

    // A tag the kernel took off the frame goes back between the source MAC and the EtherType.
    static void put_back_tag(const msghdr &message, uint8_t *&frame, std::size_t &size) {
        for (cmsghdr *c = CMSG_FIRSTHDR(const_cast<msghdr *>(&message)); c != nullptr;
             c = CMSG_NXTHDR(const_cast<msghdr *>(&message), c)) {
            if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA)
                continue;
            tpacket_auxdata aux;
            std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
            if ((aux.tp_status & TP_STATUS_VLAN_VALID) == 0 && aux.tp_vlan_tci == 0)
                return;
            const uint16_t tpid = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) != 0 ? aux.tp_vlan_tpid : ETH_P_8021Q;
            std::memmove(frame - kTagLength, frame, 12);
            frame -= kTagLength;
            frame[12] = static_cast<uint8_t>(tpid >> 8);
            frame[13] = static_cast<uint8_t>(tpid);
            frame[14] = static_cast<uint8_t>(aux.tp_vlan_tci >> 8);
            frame[15] = static_cast<uint8_t>(aux.tp_vlan_tci);
            size += kTagLength;
            return;
        }
    }

    // Screens one frame that entered a port and learns its source; out receives the ports it goes out of.
    void switch_frame(const PortPtr &in, const std::vector<PortPtr> &ports, const uint8_t *frame, std::size_t size,
                      std::vector<const Port *> &out) {
        out.clear();
        in->received.fetch_add(1, std::memory_order_relaxed);
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const kernel::Decision decision =
            kernel::classify(in->lport, std::span<const uint8_t>(frame, size),
                             std::chrono::duration_cast<std::chrono::nanoseconds>(now));
        if (!decision.forwarded) {
            in->dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        in->forwarded.fetch_add(1, std::memory_order_relaxed);
        if ((frame[6] & 1) == 0)
            learned_[mac_at(frame + 6)] = in->lport;
        const bool group = (frame[0] & 1) != 0;
        auto known = group ? learned_.end() : learned_.find(mac_at(frame));
        for (const PortPtr &port : ports)
            if (port != in && (known == learned_.end() || port->lport == known->second))
                out.push_back(port.get());
    }

    // Ends the attachment of a port whose interface is gone.
    void vanish(const PortPtr &port, const std::string &why) {
        qvprintf(kLogModule, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE, "fabric: %s detached: %s: %s\n",
                 port->name.c_str(), port->host.c_str(), why.c_str());
        std::lock_guard lock(mutex_);
        auto it = std::find(ports_.begin(), ports_.end(), port);
        if (it != ports_.end()) {
            ports_.erase(it);
            changed_locked();
        }
    }

    // Forgets the addresses learned on ports that are no longer attached.
    void forget_departed(const std::vector<PortPtr> &ports) {
        std::erase_if(learned_, [&ports](const auto &entry) {
            return std::none_of(ports.begin(), ports.end(), [&entry](const PortPtr &p) { return p->lport == entry.second; });
        });
    }

    std::mutex mutex_;
    std::vector<PortPtr> ports_;  // in port order
    uint64_t generation_ = 0;
    bool stopping_ = false;
    int wake_ = -1;
    std::thread thread_;
    std::unordered_map<uint64_t, uint32_t> learned_;  // MAC -> port; the fabric's thread only
};

Fabric &fabric() {
    static Fabric instance;
    return instance;
}

}  // namespace

std::string attach(uint32_t lport, const std::string &port, const std::string &host) {
    return fabric().attach(lport, port, host);
}

std::string detach(uint32_t lport) { return fabric().detach(lport); }

std::vector<PortStats> ports() { return fabric().stats(); }

}  // namespace sim::fabric
