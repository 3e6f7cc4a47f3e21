// The simulated chassis: its slots, the port and trunk interfaces they give, and the interface tables.
//
// Names and numbers:
//   physical port  ethS.P        user slot S 1-10, port P 1-48: lport 64(S-1)+P, ifindex 5120 + lport
//   trunk          port-channelN N 1-128: trunk id N-1, ifindex 5761+N-1, lport 641+N-1
//   VLAN           vlanV         V 1-4094: ifindex 10000+V, no lport
// Physical slot p (0-9) is user slot p+1; physical slots 0 and 1 hold the CPU cards.
//
// Two tables hold the interface records: the virtual router's table, of the interfaces that exist (the
// table whose hooks the NSM client runs), and the global table, which also keeps the records that
// ifg_get_by_name made for names that do not exist (yet). Records are never freed, so a pointer to one
// stays valid for the whole process; a record that comes back is the same record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "if_table.h"
#include "nsm_client.h"
#include "portlist.h"

// An interface table: records by name and by ifindex, and the hooks run when interfaces come and go.
struct if_table {
    // Names are hashed: the port ranges of a full configuration look up hundreds of thousands of them.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_map<std::string, interface *, NameHash, std::equal_to<>> by_name;
    std::map<uint32_t, interface *> by_index;
    std::vector<NSM_IF_HOOK_FN> add_hooks;
    std::vector<NSM_IF_HOOK_FN> delete_hooks;

    void insert(interface *ifp);
    void erase(interface *ifp);
    interface *find(std::string_view name) const;
    interface *find(uint32_t ifindex) const;
};

namespace sim {

namespace ids {

constexpr int kSlots = 10;
constexpr int kPortsPerSlot = 48;
constexpr int kSlotWindow = 64;
constexpr int kTrunks = 128;
constexpr uint32_t kPortIfindexBase = 5120;
constexpr uint32_t kTrunkIfindexBase = 5761;
constexpr uint32_t kVlanIfindexBase = 10000;

std::string port_name(int slot, int port);
std::string trunk_name(int trunk);
uint32_t port_ifindex(int slot, int port);
uint32_t trunk_ifindex(int trunk);
// Slot and port of a physical-port ifindex, when it names one.
std::optional<std::pair<int, int>> slot_port_of(uint32_t ifindex);
// The ifindex a name stands for by the numbering alone, or 0.
uint32_t ifindex_of(const std::string &name);
// The name an ifindex stands for by the numbering alone, or nothing.
std::optional<std::string> name_of(uint32_t ifindex);

}  // namespace ids

// The names of the named ports of a list in the range form the interface-range parser reads back: runs of
// consecutive names as the first name, "-" and the short form of the last ("eth1.1-1.8", "port-channel1-4"),
// joined by ","; ports without a name are left out. Empty when no port of the list has a name.
std::string port_text(const PORTLIST_T &ports);

class Chassis {
public:
    static Chassis &instance();

    // The default chassis: all 10 slots present, trunks port-channel1 to port-channel8, vlan1.
    Chassis();

    bool slot_present(int user_slot) const;
    void set_slot_present(int user_slot, bool present);
    const std::vector<int> &boot_trunks() const { return boot_trunks_; }

    // Creates (or brings back) the interface and runs the add hooks of the router's table. Null when the
    // name stands for no interface, or it exists already.
    interface *add_interface(const std::string &name);
    // Sets the record's state byte, runs the delete hooks, then takes the interface out of both tables.
    // False when it does not exist.
    bool delete_interface(const std::string &name, uint8_t state);
    // The record of an existing interface, or null.
    interface *find(std::string_view name) const;
    // The record of a name in the global table (existing or not), made when missing; null for a name
    // longer than IF_NAME_MAX.
    interface *global_record(const std::string &name);

    // The boot steps: every port of every present slot; the boot trunks and vlan1.
    void create_port_interfaces();
    void create_boot_trunks();

    // Topology changes as the platform commands drive them. Each returns the empty text when it was done,
    // otherwise the reason, a line beginning with "% " and without newline, and changes nothing.

    // Adds an interface (the add hooks run). Refused for a name that stands for no interface, a port of a
    // slot without a card, and an interface that exists.
    std::string add(const std::string &name);
    // Deletes an interface with the state byte given (1: for good). A trunk's members leave it first, and a
    // member port leaves its trunk first.
    std::string remove(const std::string &name, uint8_t state);
    // The port joins the trunk: its record's state becomes 2, then the link-aggregation notification 0x402
    // with change 1 is delivered. Refused unless the trunk is an existing trunk, the port an existing
    // physical port, and the port a member of no trunk.
    std::string join(const std::string &trunk, const std::string &port);
    // The member leaves its trunk: its record's state becomes 0, then the notification with change 0.
    // Refused as join is, and when the port is not a member of that trunk.
    std::string leave(const std::string &trunk, const std::string &port);
    // Delivers one notification 0x402 with any change value for an existing trunk and physical port;
    // nothing else changes.
    std::string notify(const std::string &trunk, const std::string &port, uint32_t change);
    // Card pulled from physical slot p (0-9): the stacking service's removal callback with p, then, for a
    // line card (2-9), each of its member ports leaves its trunk (in port order), then each of its
    // interfaces is deleted for good (in port order). The CPU cards (0 and 1) keep their ports. Refused for
    // an id outside 0-9 and for a line-card slot without a card.
    std::string remove_card(int phy_slot);
    // Card inserted into physical slot p: the insertion callback with p, then, for a line card, the slot's
    // interfaces are added. Refused for an id outside 0-9 and for a line-card slot that has a card.
    std::string insert_card(int phy_slot);

    // The members of a trunk, by ifindex; empty for a trunk without members or an unknown name.
    std::set<uint32_t> members(const std::string &trunk) const;
    // The trunk a port is a member of, or the empty text.
    std::string trunk_of(const std::string &port) const;

    if_table *vr_table() { return &vr_; }
    if_table *global_table() { return &global_; }
    if_vr_ctx *vr_ctx() { return &vr_ctx_; }
    if_global_ctx *global_ctx() { return &global_ctx_; }

private:
    interface *record(const std::string &name);
    // The reason a trunk and port pair cannot be used for a membership change, or the empty text.
    std::string check_pair(const std::string &trunk, const std::string &port) const;
    void deliver_membership(interface *trunk, interface *port, uint32_t change);

    std::map<std::string, std::unique_ptr<interface>> records_;
    if_table vr_;
    if_table global_;
    if_vr_ctx vr_ctx_{0, &vr_};
    if_global_ctx global_ctx_{&global_};
    bool slots_[ids::kSlots];
    std::vector<int> boot_trunks_;
    std::map<uint32_t, std::set<uint32_t>> members_;  // trunk ifindex -> member ifindexes
};

}  // namespace sim
