// The C interface-table calls, over the simulated chassis.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "if_table.h"

namespace {

constexpr uint32_t kFirstLportIfindex = sim::ids::kPortIfindexBase + 1;
constexpr uint32_t kLastLportIfindex = sim::ids::kTrunkIfindexBase + sim::ids::kTrunks - 1;

// The names of the ports and trunks, made once, by ifindex from the first port's: the port-list text asks for
// them port by port. Empty where the numbering names no interface.
const std::string *port_or_trunk_name(uint32_t ifindex) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (uint32_t i = kFirstLportIfindex; i <= kLastLportIfindex; ++i)
            list.push_back(sim::ids::name_of(i).value_or(""));
        return list;
    }();
    return &names[ifindex - kFirstLportIfindex];
}

}  // namespace

extern "C" {

uint32_t if_ifindex_to_st_lport(uint32_t ifindex) {
    if (ifindex < kFirstLportIfindex || ifindex > kLastLportIfindex)
        return 0;
    return ifindex - sim::ids::kPortIfindexBase;
}

uint32_t if_st_lport_to_ifindex(uint32_t lport) {
    if (lport < 1 || lport > kLastLportIfindex - sim::ids::kPortIfindexBase)
        return 0;
    return lport + sim::ids::kPortIfindexBase;
}

int if_utl_ifindex_to_ifname(uint32_t ifindex, char *name) {
    std::optional<std::string> other;
    const std::string *text = nullptr;
    if (ifindex >= kFirstLportIfindex && ifindex <= kLastLportIfindex)
        text = port_or_trunk_name(ifindex);
    else if ((other = sim::ids::name_of(ifindex)))
        text = &*other;
    if (text == nullptr || text->empty())
        return -1;
    std::memset(name, 0, IF_NAME_BUF);
    std::memcpy(name, text->data(), text->size());
    return 0;
}

// A name's ifindex follows from the numbering alone, whether the interface exists or not: a record that
// ifg_get_by_name made for any other name has ifindex 0 too.
uint32_t if_utl_ifname_to_ifindex(const char *name) { return name == nullptr ? 0 : sim::ids::ifindex_of(name); }

// The type of a name the numbering gives an ifindex: a port, a trunk or a VLAN the chassis can have, written
// exactly as the chassis names it. Any other name is of no type, whatever it begins with ("port-channel0",
// "eth1.49", "vlan01").
int if_check_if_type_by_ifname(const char *name) {
    const uint32_t ifindex = if_utl_ifname_to_ifindex(name);
    if (ifindex == 0)
        return IF_TYPE_OTHER;
    if (sim::ids::slot_port_of(ifindex))
        return IF_TYPE_ETHERNET;
    if (ifindex < sim::ids::kVlanIfindexBase)
        return IF_TYPE_TRUNK;
    return IF_TYPE_VLAN;
}

struct interface *if_lookup_by_name(struct if_table *ift, const char *name) {
    return ift == nullptr || name == nullptr ? nullptr : ift->find(std::string_view(name));
}

struct interface *if_lookup_by_index(struct if_table *ift, uint32_t ifindex) {
    return ift == nullptr ? nullptr : ift->find(ifindex);
}

struct interface *ifg_lookup_by_name(struct if_table *ift, const char *name) {
    return if_lookup_by_name(ift, name);
}

struct interface *ifg_get_by_name(struct if_table *ift, const char *name) {
    if (ift == nullptr || name == nullptr)
        return nullptr;
    if (interface *ifp = ift->find(std::string_view(name)))
        return ifp;
    sim::Chassis &chassis = sim::Chassis::instance();
    if (ift != chassis.global_table())
        return nullptr;
    return chassis.global_record(name);
}

struct interface *ifg_lookup_by_index(struct if_table *ift, uint32_t ifindex) {
    return if_lookup_by_index(ift, ifindex);
}

}  // extern "C"
