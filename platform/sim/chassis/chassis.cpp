#include "chassis/sim_chassis.h"

#include <cstring>

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

interface *if_table::find(const std::string &name) const {
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

interface *Chassis::find(const std::string &name) const { return vr_.find(name); }

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

}  // namespace sim
