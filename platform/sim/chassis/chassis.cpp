#include "chassis/sim_chassis.h"

#include <algorithm>
#include <cstring>

#include "kernel/sim_traffic.h"
#include "nsm/sim_nsm.h"
#include "services/sim_services.h"
#include "stacking.h"
#include "trace/sim_trace.h"

void if_table::insert(interface *ifp) {
    by_name[ifp->name] = ifp;
    if (ifp->ifindex != 0)
        by_index[ifp->ifindex] = ifp;
}

void if_table::erase(interface *ifp) {
    by_name.erase(ifp->name);
    auto it = by_index.find(ifp->ifindex);
    if (it != by_index.end() && it->second == ifp)
        by_index.erase(it);
}

interface *if_table::find(std::string_view name) const {
    auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : it->second;
}

interface *if_table::find(uint32_t ifindex) const {
    auto it = by_index.find(ifindex);
    return it == by_index.end() ? nullptr : it->second;
}

namespace sim {

namespace ids {
namespace {

// A decimal number without sign or leading zero in [lo, hi] that makes up all of text.
std::optional<int> parse_number(const std::string &text, int lo, int hi) {
    if (text.empty() || text.size() > 4 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < lo || value > hi)
        return std::nullopt;
    return value;
}

bool starts_with(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::string port_name(int slot, int port) { return "eth" + std::to_string(slot) + "." + std::to_string(port); }

std::string trunk_name(int trunk) { return "port-channel" + std::to_string(trunk); }

uint32_t port_ifindex(int slot, int port) {
    return kPortIfindexBase + static_cast<uint32_t>(kSlotWindow * (slot - 1) + port);
}

uint32_t trunk_ifindex(int trunk) { return kTrunkIfindexBase + static_cast<uint32_t>(trunk - 1); }

std::optional<std::pair<int, int>> slot_port_of(uint32_t ifindex) {
    if (ifindex <= kPortIfindexBase || ifindex >= kTrunkIfindexBase)
        return std::nullopt;
    int lport = static_cast<int>(ifindex - kPortIfindexBase);
    int slot = (lport - 1) / kSlotWindow + 1;
    int port = (lport - 1) % kSlotWindow + 1;
    if (port > kPortsPerSlot)
        return std::nullopt;
    return std::make_pair(slot, port);
}

uint32_t ifindex_of(const std::string &name) {
    if (starts_with(name, "eth")) {
        std::string rest = name.substr(3);
        auto dot = rest.find('.');
        if (dot == std::string::npos)
            return 0;
        auto slot = parse_number(rest.substr(0, dot), 1, kSlots);
        auto port = parse_number(rest.substr(dot + 1), 1, kPortsPerSlot);
        return slot && port ? port_ifindex(*slot, *port) : 0;
    }
    if (starts_with(name, "port-channel")) {
        auto trunk = parse_number(name.substr(12), 1, kTrunks);
        return trunk ? trunk_ifindex(*trunk) : 0;
    }
    if (starts_with(name, "vlan")) {
        auto vid = parse_number(name.substr(4), 1, 4094);
        return vid ? kVlanIfindexBase + static_cast<uint32_t>(*vid) : 0;
    }
    return 0;
}

std::optional<std::string> name_of(uint32_t ifindex) {
    if (auto sp = slot_port_of(ifindex))
        return port_name(sp->first, sp->second);
    if (ifindex >= kTrunkIfindexBase && ifindex < kTrunkIfindexBase + kTrunks)
        return trunk_name(static_cast<int>(ifindex - kTrunkIfindexBase) + 1);
    if (ifindex > kVlanIfindexBase && ifindex <= kVlanIfindexBase + 4094)
        return "vlan" + std::to_string(ifindex - kVlanIfindexBase);
    return std::nullopt;
}

}  // namespace ids

Chassis &Chassis::instance() {
    static Chassis chassis;
    return chassis;
}

Chassis::Chassis() : boot_trunks_{1, 2, 3, 4, 5, 6, 7, 8} {
    for (bool &present : slots_)
        present = true;
}

bool Chassis::slot_present(int user_slot) const {
    return user_slot >= 1 && user_slot <= ids::kSlots && slots_[user_slot - 1];
}

void Chassis::set_slot_present(int user_slot, bool present) {
    if (user_slot >= 1 && user_slot <= ids::kSlots)
        slots_[user_slot - 1] = present;
}

interface *Chassis::record(const std::string &name) {
    if (name.empty() || name.size() > IF_NAME_MAX)
        return nullptr;
    auto &slot = records_[name];
    if (!slot) {
        slot = std::make_unique<interface>();
        std::memset(slot.get(), 0, sizeof(interface));
        std::memcpy(slot->name, name.data(), name.size());
        slot->ifindex = ids::ifindex_of(name);
    }
    return slot.get();
}

interface *Chassis::global_record(const std::string &name) {
    if (interface *ifp = global_.find(name))
        return ifp;
    interface *ifp = record(name);
    if (ifp != nullptr)
        global_.insert(ifp);
    return ifp;
}

interface *Chassis::add_interface(const std::string &name) {
    if (ids::ifindex_of(name) == 0 || vr_.find(name) != nullptr)
        return nullptr;
    interface *ifp = record(name);
    ifp->state = IF_STATE_PRESENT;
    vr_.insert(ifp);
    global_.insert(ifp);
    trace::record("if add " + name);
    for (NSM_IF_HOOK_FN hook : vr_.add_hooks)
        hook(ifp);
    return ifp;
}

bool Chassis::delete_interface(const std::string &name, uint8_t state) {
    interface *ifp = vr_.find(name);
    if (ifp == nullptr)
        return false;
    ifp->state = state;
    trace::record("if delete " + name + " state " + std::to_string(state));
    for (NSM_IF_HOOK_FN hook : vr_.delete_hooks)
        hook(ifp);
    vr_.erase(ifp);
    global_.erase(ifp);
    return true;
}

interface *Chassis::find(std::string_view name) const { return vr_.find(name); }

void Chassis::create_port_interfaces() {
    for (int slot = 1; slot <= ids::kSlots; ++slot) {
        if (!slot_present(slot))
            continue;
        for (int port = 1; port <= ids::kPortsPerSlot; ++port)
            add_interface(ids::port_name(slot, port));
    }
}

void Chassis::create_boot_trunks() {
    for (int trunk : boot_trunks_)
        add_interface(ids::trunk_name(trunk));
    add_interface("vlan1");
}

namespace {

constexpr int kCpuCards = 2;  // physical slots 0 and 1

bool is_trunk(const interface *ifp) {
    return ifp->ifindex >= ids::kTrunkIfindexBase && ifp->ifindex < ids::kTrunkIfindexBase + ids::kTrunks;
}

bool is_port(const interface *ifp) { return ids::slot_port_of(ifp->ifindex).has_value(); }

std::string no_such(const std::string &name) { return "% No such interface " + name; }

// A refusal about a physical slot that names it both ways, as typed and as the user counts slots:
// "% Physical slot 3 (slot 4) has no card".
std::string slot_reason(int phy_slot, const char *what) {
    return "% Physical slot " + std::to_string(phy_slot) + " (slot " + std::to_string(phy_slot + 1) + ") " + what;
}

// True for the physical slot ids of the chassis, 0 to 9.
bool valid_phy_slot(int phy_slot) { return phy_slot >= 0 && phy_slot <= ST_PHY_SLOT_MAX; }

std::string invalid_phy_slot(int phy_slot) { return "% Invalid physical slot " + std::to_string(phy_slot); }

}  // namespace

std::string Chassis::check_pair(const std::string &trunk, const std::string &port) const {
    interface *t = vr_.find(trunk);
    if (t == nullptr)
        return no_such(trunk);
    if (!is_trunk(t))
        return "% " + trunk + " is not a trunk";
    interface *p = vr_.find(port);
    if (p == nullptr)
        return no_such(port);
    if (!is_port(p))
        return "% " + port + " is not a physical port";
    return "";
}

std::string Chassis::add(const std::string &name) {
    if (ids::ifindex_of(name) == 0)
        return "% Invalid interface name " + name;
    if (auto sp = ids::slot_port_of(ids::ifindex_of(name)); sp && !slot_present(sp->first))
        return "% Slot " + std::to_string(sp->first) + " has no card";
    if (add_interface(name) == nullptr)
        return "% Interface " + name + " exists";
    return "";
}

std::string Chassis::remove(const std::string &name, uint8_t state) {
    interface *ifp = vr_.find(name);
    if (ifp == nullptr)
        return no_such(name);
    if (is_trunk(ifp)) {
        std::set<uint32_t> members = members_[ifp->ifindex];
        for (uint32_t member : members)
            leave(name, *ids::name_of(member));
        members_.erase(ifp->ifindex);
    } else if (std::string trunk = trunk_of(name); !trunk.empty()) {
        leave(trunk, name);
    }
    delete_interface(name, state);
    return "";
}

std::string Chassis::join(const std::string &trunk, const std::string &port) {
    if (std::string reason = check_pair(trunk, port); !reason.empty())
        return reason;
    if (std::string other = trunk_of(port); !other.empty())
        return "% " + port + " is a member of " + other;
    interface *t = vr_.find(trunk);
    interface *p = vr_.find(port);
    members_[t->ifindex].insert(p->ifindex);
    // The kernel's link aggregation screens the member's frames on the trunk from now on.
    kernel::set_trunk_of(if_ifindex_to_st_lport(p->ifindex), if_ifindex_to_st_lport(t->ifindex));
    p->state = IF_STATE_TRUNK_MEMBER;
    deliver_membership(t, p, 1);
    return "";
}

std::string Chassis::leave(const std::string &trunk, const std::string &port) {
    if (std::string reason = check_pair(trunk, port); !reason.empty())
        return reason;
    interface *t = vr_.find(trunk);
    interface *p = vr_.find(port);
    auto it = members_.find(t->ifindex);
    if (it == members_.end() || it->second.erase(p->ifindex) == 0)
        return "% " + port + " is not a member of " + trunk;
    kernel::set_trunk_of(if_ifindex_to_st_lport(p->ifindex), 0);
    p->state = IF_STATE_PRESENT;
    deliver_membership(t, p, 0);
    return "";
}

std::string Chassis::notify(const std::string &trunk, const std::string &port, uint32_t change) {
    if (std::string reason = check_pair(trunk, port); !reason.empty())
        return reason;
    deliver_membership(vr_.find(trunk), vr_.find(port), change);
    return "";
}

void Chassis::deliver_membership(interface *trunk, interface *port, uint32_t change) {
    NSM_LACP_AGG_PORT_MSG_T msg{};
    // The name is cut to the 15 characters the record holds; msg is zero-filled, so it stays terminated.
    std::memcpy(msg.agg_name, trunk->name, std::min(std::strlen(trunk->name), sizeof(msg.agg_name) - 1));
    msg.info = trunk->ifindex;
    msg.member_ifindex = port->ifindex;
    msg.change = change;
    trace::record("lacp " + std::string(msg.agg_name) + " member " + port->name + " change " +
                  std::to_string(change));
    nsm::deliver("LACP", NSM_LACP_NOTIFY_AGG_PORT_CONFIG, &msg);
}

std::string Chassis::remove_card(int phy_slot) {
    if (!valid_phy_slot(phy_slot))
        return invalid_phy_slot(phy_slot);
    int user_slot = phy_slot + 1;
    if (phy_slot >= kCpuCards && !slot_present(user_slot))
        return slot_reason(phy_slot, "has no card");
    stacking::card_removed(phy_slot);
    if (phy_slot < kCpuCards)
        return "";
    set_slot_present(user_slot, false);
    // Every member port of the card leaves its trunk before the first of the card's interfaces goes, so
    // that the trunks are settled when the delete hooks run.
    std::vector<std::string> ports;
    for (int port = 1; port <= ids::kPortsPerSlot; ++port)
        if (vr_.find(ids::port_name(user_slot, port)) != nullptr)
            ports.push_back(ids::port_name(user_slot, port));
    for (const std::string &port : ports)
        if (std::string trunk = trunk_of(port); !trunk.empty())
            leave(trunk, port);
    for (const std::string &port : ports)
        delete_interface(port, IF_STATE_DELETED_FOR_GOOD);
    return "";
}

std::string Chassis::insert_card(int phy_slot) {
    if (!valid_phy_slot(phy_slot))
        return invalid_phy_slot(phy_slot);
    int user_slot = phy_slot + 1;
    if (phy_slot >= kCpuCards && slot_present(user_slot))
        return slot_reason(phy_slot, "has a card");
    stacking::card_inserted(static_cast<uint32_t>(phy_slot));
    if (phy_slot < kCpuCards)
        return "";
    set_slot_present(user_slot, true);
    for (int port = 1; port <= ids::kPortsPerSlot; ++port)
        add_interface(ids::port_name(user_slot, port));
    return "";
}

std::set<uint32_t> Chassis::members(const std::string &trunk) const {
    interface *t = vr_.find(trunk);
    if (t == nullptr)
        return {};
    auto it = members_.find(t->ifindex);
    return it == members_.end() ? std::set<uint32_t>{} : it->second;
}

std::string Chassis::trunk_of(const std::string &port) const {
    interface *p = vr_.find(port);
    if (p == nullptr)
        return "";
    for (const auto &[trunk, ports] : members_)
        if (ports.count(p->ifindex) != 0)
            return *ids::name_of(trunk);
    return "";
}

}  // namespace sim
