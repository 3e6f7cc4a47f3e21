// The audit of the kernel filter against the daemon (audit.h). The daemon's side is read as the switch's agent
// reads it: the bridge's show commands in table mode, one row after the other from the first (Walk::next),
// each walk going on from the key of the row before.
#include "traffic/audit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "cli.h"
#include "datapath/sim_datapath.h"
#include "kernel/sim_kernel.h"
#include "snmp/sim_snmp.h"
#include "shell/platform_text.h"

namespace sim::traffic {
namespace {

using namespace platform_commands;

// The bridge's columns: the scalars, the permit rule's ports.
constexpr int32_t kTrapColumn = 1;
constexpr int32_t kDurationColumn = 2;
constexpr int32_t kRulePortsColumn = 3;
// The trap/log state of the scalar show.
constexpr int32_t kTrapEnabled = 1;
constexpr int32_t kTrapDisabled = 2;
constexpr std::size_t kRuleKeyLength = 12;
constexpr std::size_t kPortKeyLength = 4;
constexpr char kRuleShow[] = "show ip dhcp screening snmp ";
constexpr char kPortShow[] = "show ip dhcp screening snmp ports ";
constexpr char kScalarShow[] = "show ip dhcp screening snmp";

// The daemon's configuration as the bridge hands it out.
struct Daemon {
    std::map<kernel::RuleKey, PORTLIST_T> rules;
    PORTLIST_T enabled{};
    int32_t trap = 0;  // kTrapEnabled or kTrapDisabled
    int32_t duration = 0;
};

// Runs one bridge show; nothing, with why not in error, when the line failed.
std::optional<snmp::Reply> show(const std::string &line, snmp::Walk walk, std::string &error) {
    snmp::Reply reply = snmp::run(line, EXEC_MODE, walk);
    if (reply.ok)
        return reply;
    std::string printed = reply.printed;
    while (!printed.empty() && printed.back() == '\n')
        printed.pop_back();
    error = "\"" + line + "\" failed" + (printed.empty() ? "" : ": " + printed);
    return std::nullopt;
}

const snmp::Value *column(const std::vector<snmp::Value> &values, int32_t number) {
    auto found =
        std::find_if(values.begin(), values.end(), [number](const snmp::Value &v) { return v.column == number; });
    return found == values.end() ? nullptr : &*found;
}

// The permit table, from the first row on. Every walk must come after the key it started from.
bool read_rules(Daemon &daemon, std::string &error) {
    std::string from = "0.0.0.0 00:00:00:00:00:00";
    std::optional<kernel::RuleKey> last;
    for (;;) {
        std::optional<snmp::Reply> reply = show(kRuleShow + from, snmp::Walk::next, error);
        if (!reply)
            return false;
        if (reply->rows.empty())
            return true;
        const snmp::Row &row = reply->rows.front();
        const snmp::Value *ports = column(row.values, kRulePortsColumn);
        if (row.key.size() != kRuleKeyLength || ports == nullptr) {
            error = "the permit table after " + from + " has a row of another form";
            return false;
        }
        kernel::RuleKey key;
        std::copy_n(row.key.begin(), key.server.size(), key.server.begin());
        std::copy_n(row.key.begin() + key.server.size(), key.mac.size(), key.mac.begin());
        if (last && !(*last < key)) {
            error = "the permit table walk does not go on after " + from;
            return false;
        }
        daemon.rules[key] = snmp::port_list_of(ports->octets);
        last = key;
        from = snmp::key_text(row.key);
    }
}

// The enabled-port table, from the first row on.
bool read_ports(Daemon &daemon, std::string &error) {
    uint32_t from = 0;
    for (;;) {
        std::optional<snmp::Reply> reply = show(kPortShow + std::to_string(from), snmp::Walk::next, error);
        if (!reply)
            return false;
        if (reply->rows.empty())
            return true;
        const snmp::Row &row = reply->rows.front();
        uint32_t ifindex = 0;
        for (uint8_t byte : row.key)
            ifindex = ifindex << 8 | byte;
        const uint32_t lport = if_ifindex_to_st_lport(ifindex);
        if (row.key.size() != kPortKeyLength || lport == 0 || ifindex <= from) {
            error = "the port table after " + std::to_string(from) + " has a row of another form";
            return false;
        }
        PORTLIST_set_port(&daemon.enabled, lport);
        from = ifindex;
    }
}

bool read_scalars(Daemon &daemon, std::string &error) {
    std::optional<snmp::Reply> reply = show(kScalarShow, snmp::Walk::get, error);
    if (!reply)
        return false;
    const snmp::Value *trap = column(reply->scalars, kTrapColumn);
    const snmp::Value *duration = column(reply->scalars, kDurationColumn);
    if (trap == nullptr || duration == nullptr) {
        error = "the scalars lack the trap/log state or the suppress duration";
        return false;
    }
    daemon.trap = trap->number;
    daemon.duration = duration->number;
    return true;
}

std::string daemon_trap_text(int32_t trap) {
    if (trap == kTrapEnabled)
        return "on";
    if (trap == kTrapDisabled)
        return "off";
    return std::to_string(trap);
}

PORTLIST_T without(const PORTLIST_T &list, const PORTLIST_T &other) {
    PORTLIST_T rest{};
    PORTLIST_maskout(&rest, &list, &other);
    return rest;
}

bool same(const PORTLIST_T &a, const PORTLIST_T &b) { return std::memcmp(a.word, b.word, sizeof a.word) == 0; }

std::size_t count(const PORTLIST_T &list) {
    std::size_t n = 0;
    for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport)
        n += PORTLIST_chk_port_exist(&list, lport) ? 1 : 0;
    return n;
}

std::string rule_name(const kernel::RuleKey &key) {
    return "Rule " + server_text(key.server) + " " + client_text(key.mac);
}

void compare_rules(const Daemon &daemon, const kernel::Tables &filter, std::vector<std::string> &out) {
    std::map<kernel::RuleKey, int> keys;  // the union, in key order
    for (const auto &rule : daemon.rules)
        keys[rule.first] |= 1;
    for (const auto &rule : filter.rules)
        keys[rule.first] |= 2;
    for (const auto &[key, sides] : keys) {
        if (sides == 1)
            out.push_back(rule_name(key) + " only in the daemon, ports " + ports_text(daemon.rules.at(key)));
        else if (sides == 2)
            out.push_back(rule_name(key) + " only in the filter, ports " + ports_text(filter.rules.at(key)));
        else if (!same(daemon.rules.at(key), filter.rules.at(key)))
            out.push_back(rule_name(key) + ": ports " + ports_text(daemon.rules.at(key)) + " in the daemon, " +
                          ports_text(filter.rules.at(key)) + " in the filter");
    }
}

void compare_settings(const Daemon &daemon, const kernel::Tables &filter, std::vector<std::string> &out) {
    const PORTLIST_T daemon_only = without(daemon.enabled, filter.enabled);
    const PORTLIST_T filter_only = without(filter.enabled, daemon.enabled);
    if (!PORTLIST_chk_empty(&daemon_only))
        out.push_back("Screening on " + ports_text(daemon_only) + " only in the daemon");
    if (!PORTLIST_chk_empty(&filter_only))
        out.push_back("Screening on " + ports_text(filter_only) + " only in the filter");
    const bool trap_same = (daemon.trap == kTrapEnabled && filter.trap == 1) ||
                           (daemon.trap == kTrapDisabled && filter.trap == 0);
    if (!trap_same)
        out.push_back("Trap/log " + daemon_trap_text(daemon.trap) + " in the daemon, " +
                      trap_text(filter.trap) + " in the filter");
    if (daemon.duration < 0 || static_cast<uint32_t>(daemon.duration) != filter.duration)
        out.push_back(format("Suppress duration %d minutes in the daemon, %u in the filter", daemon.duration,
                             filter.duration));
}

}  // namespace

Audit audit() {
    Audit result;
    kernel::wait_idle();
    // With the kernel's data path loaded, the filter's tables are what its maps hold, read back.
    const kernel::Tables filter = datapath::loaded() ? datapath::read_tables() : kernel::tables();
    Daemon daemon;
    if (!read_rules(daemon, result.error) || !read_ports(daemon, result.error) ||
        !read_scalars(daemon, result.error))
        return result;
    result.rules = daemon.rules.size();
    result.ports = count(daemon.enabled);
    compare_rules(daemon, filter, result.differences);
    compare_settings(daemon, filter, result.differences);
    return result;
}

}  // namespace sim::traffic
