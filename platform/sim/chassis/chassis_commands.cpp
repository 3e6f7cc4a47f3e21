// The "platform chassis" commands: a view of the simulated chassis's slots, trunks and other interfaces,
// and the topology changes of sim_chassis.h driven from the shell. Every handler prints through the command
// context's output function; it is silent and returns 0 when the change was made, and prints the chassis's
// reason ("% ...") and returns 1 when it was refused, changing nothing.
#include "chassis/chassis_commands.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"
#include "shell/platform_commands.h"
#include "shell/platform_text.h"
#include "if_table.h"
#include "portlist.h"
#include "services/sim_services.h"

namespace sim::chassis {
namespace {

using platform_commands::answer;
using platform_commands::print;
using platform_commands::kPlatformHelp;
using platform_commands::number;
using platform_commands::ports_text;

// One column of a table of the show: its title and the width its values are padded to. The last column of
// a table is not padded (width 0).
struct Column {
    const char *title;
    int width;
};

// The layout of "platform chassis show": table rows are indented by kIndent blanks and their columns
// separated by kGap blanks; the slot table's columns fit "Slot"/"10" and "line card", the trunk table's
// first column fits "port-channel128".
constexpr int kIndent = 2;
constexpr int kGap = 2;
constexpr Column kSlotColumns[] = {{"Slot", 4}, {"Card", 9}, {"Ports", 0}};
constexpr Column kTrunkColumns[] = {{"Trunk", 15}, {"Members", 0}};
constexpr char kOtherLabel[] = "Other interfaces";
constexpr char kCpuCard[] = "CPU";
constexpr char kLineCard[] = "line card";
constexpr char kNoCard[] = "empty";
constexpr char kNone[] = "none";
constexpr int kCpuSlots = 2;  // user slots 1 and 2 hold the CPU cards

// True when the handler got the number of arguments its command gives; prints "% Invalid input" otherwise.
bool arguments(cli *cli, int argc, int expected) {
    if (argc == expected)
        return true;
    print(cli, "% Invalid input\n");
    return false;
}

// One line of a table: the values padded to the widths of their columns, indented and separated by blanks.
template <size_t N>
std::string row(const Column (&columns)[N], const std::string (&values)[N]) {
    std::string line(kIndent, ' ');
    for (size_t i = 0; i < N; ++i) {
        if (i + 1 < N)
            line += sim::format("%-*s%*s", columns[i].width, values[i].c_str(), kGap, "");
        else
            line += values[i];
    }
    return line + "\n";
}

// The title line of a table.
template <size_t N>
std::string title_row(const Column (&columns)[N]) {
    std::string titles[N];
    for (size_t i = 0; i < N; ++i)
        titles[i] = columns[i].title;
    return row(columns, titles);
}

// The ports of a user slot that are in the router's interface table.
PORTLIST_T slot_ports(const Chassis &chassis, int user_slot) {
    PORTLIST_T ports;
    PORTLIST_clear_all(&ports);
    for (int port = 1; port <= ids::kPortsPerSlot; ++port)
        if (chassis.find(ids::port_name(user_slot, port)) != nullptr)
            PORTLIST_set_port(&ports, if_ifindex_to_st_lport(ids::port_ifindex(user_slot, port)));
    return ports;
}

// The card of a user slot as the show names it.
const char *card_text(const Chassis &chassis, int user_slot) {
    if (user_slot <= kCpuSlots)
        return kCpuCard;
    return chassis.slot_present(user_slot) ? kLineCard : kNoCard;
}

// True when the ifindex is a trunk's (port-channel1 to port-channel128).
bool is_trunk_ifindex(uint32_t ifindex) {
    return ifindex >= ids::kTrunkIfindexBase && ifindex < ids::kTrunkIfindexBase + ids::kTrunks;
}

// "platform chassis show": the ten slots with their cards and ports, the trunks with their members, and the
// other interfaces of the router's table.
int show(cli *cli, int argc, char **) {
    if (!arguments(cli, argc, 0))
        return 1;
    Chassis &chassis = Chassis::instance();
    print(cli, "Slots\n");
    print(cli, title_row(kSlotColumns));
    for (int slot = 1; slot <= ids::kSlots; ++slot) {
        const std::string values[] = {std::to_string(slot), card_text(chassis, slot),
                                      ports_text(slot_ports(chassis, slot))};
        print(cli, row(kSlotColumns, values));
    }
    std::vector<std::string> trunks;
    std::string others;
    for (const auto &[ifindex, ifp] : chassis.vr_table()->by_index) {
        if (is_trunk_ifindex(ifindex)) {
            PORTLIST_T members;
            PORTLIST_clear_all(&members);
            for (uint32_t member : chassis.members(ifp->name))
                PORTLIST_set_port(&members, if_ifindex_to_st_lport(member));
            const std::string values[] = {ifp->name, ports_text(members)};
            trunks.push_back(row(kTrunkColumns, values));
        } else if (!ids::slot_port_of(ifindex)) {
            if (!others.empty())
                others += ',';
            others += ifp->name;
        }
    }
    print(cli, "Trunks\n");
    if (trunks.empty())
        print(cli, std::string(kIndent, ' ') + kNone + "\n");
    else
        print(cli, title_row(kTrunkColumns));
    for (const std::string &line : trunks)
        print(cli, line);
    print(cli, sim::format("%s%*s%s\n", kOtherLabel, kGap, "", others.empty() ? kNone : others.c_str()));
    return 0;
}

// "platform chassis interface add IFNAME": adds the interface; the add hooks run.
int interface_add(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 1))
        return 1;
    return answer(cli, Chassis::instance().add(argv[0]));
}

// "platform chassis interface delete IFNAME [state <0-255>]": the interface leaves the table with that state
// byte (1, for good, when none is given); a member port leaves its trunk first, a trunk's members leave it
// first.
int interface_delete(cli *cli, int argc, char **argv) {
    if (argc != 1 && !(argc == 3 && std::strcmp(argv[1], "state") == 0)) {
        print(cli, "% Invalid input\n");
        return 1;
    }
    uint8_t state = IF_STATE_DELETED_FOR_GOOD;
    if (argc == 3) {
        std::optional<int64_t> value = number(argv[2], 0, UINT8_MAX);
        if (!value)
            return answer(cli, sim::format("%% Invalid number %s", argv[2]));
        state = static_cast<uint8_t>(*value);
    }
    return answer(cli, Chassis::instance().remove(argv[0], state));
}

// The refusal of a name that is not a trunk's, or the empty text.
std::string not_a_trunk(const char *name) {
    return is_trunk_ifindex(ids::ifindex_of(name)) ? "" : sim::format("%% %s is not a trunk", name);
}

// "platform chassis trunk create IFNAME": adds the trunk interface port-channelN.
int trunk_create(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 1))
        return 1;
    if (std::string reason = not_a_trunk(argv[0]); !reason.empty())
        return answer(cli, reason);
    return answer(cli, Chassis::instance().add(argv[0]));
}

// "platform chassis trunk delete IFNAME": its members leave it, then the trunk is deleted for good.
int trunk_delete(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 1))
        return 1;
    if (std::string reason = not_a_trunk(argv[0]); !reason.empty())
        return answer(cli, reason);
    return answer(cli, Chassis::instance().remove(argv[0], IF_STATE_DELETED_FOR_GOOD));
}

// "platform chassis trunk member add IFNAME IFNAME": the port (second) joins the trunk (first).
int member_add(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 2))
        return 1;
    return answer(cli, Chassis::instance().join(argv[0], argv[1]));
}

// "platform chassis trunk member remove IFNAME IFNAME": the port (second) leaves the trunk (first).
int member_remove(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 2))
        return 1;
    return answer(cli, Chassis::instance().leave(argv[0], argv[1]));
}

// "platform chassis trunk notify IFNAME IFNAME <0-255>": delivers one link-aggregation notification about
// the port and the trunk with that change value; the membership stays as it is.
int notify(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 3))
        return 1;
    std::optional<int64_t> change = number(argv[2], 0, UINT8_MAX);
    if (!change)
        return answer(cli, sim::format("%% Invalid number %s", argv[2]));
    return answer(cli, Chassis::instance().notify(argv[0], argv[1], static_cast<uint32_t>(*change)));
}

// The physical slot argument of a slot command, 0 to 9; nothing after printing "% Invalid number ...".
std::optional<int> phy_slot_argument(cli *cli, const char *text) {
    std::optional<int64_t> value = number(text, 0, ST_PHY_SLOT_MAX);
    if (!value) {
        answer(cli, sim::format("%% Invalid number %s", text));
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

// "platform chassis slot remove <0-9>": the card of the physical slot is pulled.
int slot_remove(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 1))
        return 1;
    std::optional<int> slot = phy_slot_argument(cli, argv[0]);
    return slot ? answer(cli, Chassis::instance().remove_card(*slot)) : 1;
}

// "platform chassis slot insert <0-9>": a card is inserted into the physical slot.
int slot_insert(cli *cli, int argc, char **argv) {
    if (!arguments(cli, argc, 1))
        return 1;
    std::optional<int> slot = phy_slot_argument(cli, argv[0]);
    return slot ? answer(cli, Chassis::instance().insert_card(*slot)) : 1;
}

// Calls one stacking callback with the one argument of a stacking command when it is a signed 32-bit
// number; deliver returns false when no such callback is registered, which is reported by its name.
template <typename Deliver>
int with_stacking_id(cli *cli, int argc, char **argv, const char *callback, Deliver deliver) {
    if (!arguments(cli, argc, 1))
        return 1;
    std::optional<int64_t> id = number(argv[0], INT32_MIN, INT32_MAX);
    if (!id)
        return answer(cli, sim::format("%% Invalid number %s", argv[0]));
    if (!deliver(static_cast<int32_t>(*id)))
        return answer(cli, sim::format("%% No stacking %s callback is registered", callback));
    return 0;
}

// "platform chassis stacking remove WORD": only the removal callback runs, with the number.
int stacking_remove(cli *cli, int argc, char **argv) {
    return with_stacking_id(cli, argc, argv, "removal", [](int32_t id) { return stacking::card_removed(id); });
}

// "platform chassis stacking insert WORD": only the insertion callback runs, with the number's 32 bits.
int stacking_insert(cli *cli, int argc, char **argv) {
    return with_stacking_id(cli, argc, argv, "insertion",
                            [](int32_t id) { return stacking::card_inserted(static_cast<uint32_t>(id)); });
}

// "platform chassis stacking master WORD": only the master callback runs, with the number's 32 bits.
int stacking_master(cli *cli, int argc, char **argv) {
    return with_stacking_id(cli, argc, argv, "master",
                            [](int32_t id) { return stacking::master_changed(static_cast<uint32_t>(id)); });
}

// Help texts: one per token; a token shared by several commands has one text.
const char kChassisHelp[] = "Simulated chassis";
const char kInterfaceHelp[] = "Interfaces of the router's table";
const char kInterfaceNameHelp[] = "Interface name";
const char kDeleteHelp[] = "Delete an interface";
const char kTrunkHelp[] = "Trunks (link-aggregation groups)";
const char kTrunkNameHelp[] = "Trunk name (port-channelN)";
const char kPortNameHelp[] = "Physical port name (ethS.P)";
const char kMemberHelp[] = "Members of a trunk";
const char kSlotHelp[] = "Cards in the slots";
const char kPhySlotHelp[] = "Physical slot id (0-1 the CPU cards, 2-9 line cards)";
const char kStackingHelp[] = "Call one callback of the stacking service, nothing else";
const char kStackingIdHelp[] = "Number handed to the callback (signed 32-bit)";

const char *show_help[] = {kPlatformHelp, kChassisHelp, "Show the slots, trunks and other interfaces", nullptr};
const char *interface_add_help[] = {
    kPlatformHelp, kChassisHelp, kInterfaceHelp, "Add an interface", kInterfaceNameHelp, nullptr,
};
const char *interface_delete_help[] = {
    kPlatformHelp,      kChassisHelp,
    kInterfaceHelp,     kDeleteHelp,
    kInterfaceNameHelp, "With a state byte other than 1 (for good)",
    "State byte",       nullptr,
};
const char *trunk_create_help[] = {
    kPlatformHelp, kChassisHelp, kTrunkHelp, "Add a trunk interface", kTrunkNameHelp, nullptr,
};
const char *trunk_delete_help[] = {
    kPlatformHelp, kChassisHelp, kTrunkHelp, "Delete a trunk for good, its members first", kTrunkNameHelp, nullptr,
};
const char *member_add_help[] = {
    kPlatformHelp, kChassisHelp, kTrunkHelp, kMemberHelp, "A port joins", kTrunkNameHelp, kPortNameHelp, nullptr,
};
const char *member_remove_help[] = {
    kPlatformHelp, kChassisHelp, kTrunkHelp, kMemberHelp, "A port leaves", kTrunkNameHelp, kPortNameHelp, nullptr,
};
const char *notify_help[] = {
    kPlatformHelp,
    kChassisHelp,
    kTrunkHelp,
    "Deliver one link-aggregation notification, nothing else",
    kTrunkNameHelp,
    kPortNameHelp,
    "Change value (1 joined, 0 left)",
    nullptr,
};
const char *slot_remove_help[] = {kPlatformHelp, kChassisHelp, kSlotHelp, "Pull the card", kPhySlotHelp, nullptr};
const char *slot_insert_help[] = {kPlatformHelp, kChassisHelp, kSlotHelp, "Insert a card", kPhySlotHelp, nullptr};
const char *stacking_remove_help[] = {
    kPlatformHelp, kChassisHelp, kStackingHelp, "The card-removal callback", kStackingIdHelp, nullptr,
};
const char *stacking_insert_help[] = {
    kPlatformHelp, kChassisHelp, kStackingHelp, "The card-insertion callback", kStackingIdHelp, nullptr,
};
const char *stacking_master_help[] = {
    kPlatformHelp, kChassisHelp, kStackingHelp, "The master-change callback", kStackingIdHelp, nullptr,
};

cli_element records[] = {
    {"platform chassis show", show, show_help, {0, 0, 0, 0, 0}},
    {"platform chassis interface add IFNAME", interface_add, interface_add_help, {0, 0, 0, 0, 0}},
    {"platform chassis interface delete IFNAME [state <0-255>]",
     interface_delete,
     interface_delete_help,
     {0, 0, 0, 0, 0}},
    {"platform chassis trunk create IFNAME", trunk_create, trunk_create_help, {0, 0, 0, 0, 0}},
    {"platform chassis trunk delete IFNAME", trunk_delete, trunk_delete_help, {0, 0, 0, 0, 0}},
    {"platform chassis trunk member add IFNAME IFNAME", member_add, member_add_help, {0, 0, 0, 0, 0}},
    {"platform chassis trunk member remove IFNAME IFNAME", member_remove, member_remove_help, {0, 0, 0, 0, 0}},
    {"platform chassis trunk notify IFNAME IFNAME <0-255>", notify, notify_help, {0, 0, 0, 0, 0}},
    {"platform chassis slot remove <0-9>", slot_remove, slot_remove_help, {0, 0, 0, 0, 0}},
    {"platform chassis slot insert <0-9>", slot_insert, slot_insert_help, {0, 0, 0, 0, 0}},
    {"platform chassis stacking remove WORD", stacking_remove, stacking_remove_help, {0, 0, 0, 0, 0}},
    {"platform chassis stacking insert WORD", stacking_insert, stacking_insert_help, {0, 0, 0, 0, 0}},
    {"platform chassis stacking master WORD", stacking_master, stacking_master_help, {0, 0, 0, 0, 0}},
};

}  // namespace

int install_commands(cli_tree *tree) { return platform_commands::install(tree, records); }

}  // namespace sim::chassis
