// The AgentX subagent (sim_agent.h): DHCPFTR-MIB's objects answered through the bridge commands.
#include "snmp/sim_agent.h"

namespace sim::snmp {

bool permit_server_allowed(uint32_t address) {
    const uint32_t first = address >> 24;
    if (first == 0 || first == 127 || first >= 224 || (address >> 16) == 0xA9FEu || (address & 0xFFu) == 0xFFu)
        return false;
    if (first < 128)  // class A: not the network's address
        return (address & 0xFFFFFFu) != 0;
    if (first < 192)  // class B: not 191.255.x.x, not the network's address
        return (address >> 16) != 0xBFFFu && (address & 0xFFFFu) != 0;
    return (address >> 8) != 0xDFFFFFu && (address & 0xFFu) != 0;  // class C: not 223.255.255.x, nor x.x.x.0
}

}  // namespace sim::snmp

#if SIM_HAVE_NETSNMP

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "if_table.h"
#include "kernel/sim_traffic.h"
#include "qvlog.h"
#include "snmp/sim_snmp.h"

namespace sim::snmp {
namespace {

constexpr int kLogModule = 2;
constexpr char kName[] = "dhcpftr";

using Oid = std::vector<oid>;

// dhcpftrObjects: experimental.2026.1.
const Oid g_objects = {1, 3, 6, 1, 3, 2026, 1};

// The objects of the module, in OID order. The counter tables are the data path's counters, which the agent
// reads from the platform itself: they are no configuration of the daemon's.
enum class Table { scalars, permit, port, port_counters, rule_hits };

bool is_counter_table(Table table) { return table == Table::port_counters || table == Table::rule_hits; }
// Rows indexed by a rule's server and client; the other tables' by an ifindex.
bool by_rule(Table table) { return table == Table::permit || table == Table::rule_hits; }

struct Object {
    Oid name;
    Table table;
    // The column of the bridge's values (for the scalars: 1 trap/log state, 2 duration); in a counter table,
    // the position of the count in its row (CounterRow).
    int32_t column;
    u_char type;
};

const Object kObjects[] = {
    {{1, 3, 6, 1, 3, 2026, 1, 1}, Table::scalars, 1, ASN_INTEGER},         // dhcpftrTrapLogState
    {{1, 3, 6, 1, 3, 2026, 1, 2}, Table::scalars, 2, ASN_UNSIGNED},        // dhcpftrSuppressDuration
    {{1, 3, 6, 1, 3, 2026, 1, 3, 1, 3}, Table::permit, 3, ASN_OCTET_STR},  // dhcpftrPermitPorts
    {{1, 3, 6, 1, 3, 2026, 1, 3, 1, 4}, Table::permit, 4, ASN_INTEGER},    // dhcpftrPermitStatus
    {{1, 3, 6, 1, 3, 2026, 1, 4, 1, 2}, Table::port, 2, ASN_INTEGER},      // dhcpftrPortStatus
    {{1, 3, 6, 1, 3, 2026, 1, 6, 1, 2}, Table::port_counters, 0, ASN_COUNTER64},  // dhcpftrPortCounterForwarded
    {{1, 3, 6, 1, 3, 2026, 1, 6, 1, 3}, Table::port_counters, 1, ASN_COUNTER64},  // dhcpftrPortCounterDropped
    {{1, 3, 6, 1, 3, 2026, 1, 6, 1, 4}, Table::port_counters, 2, ASN_COUNTER64},  // dhcpftrPortCounterMalformed
    {{1, 3, 6, 1, 3, 2026, 1, 7, 1, 3}, Table::rule_hits, 0, ASN_COUNTER64},      // dhcpftrRuleHits
};
constexpr int32_t kPermitPortsColumn = 3;

// Values of the objects.
constexpr long kTrapEnabled = 1;
constexpr long kTrapDisabled = 2;
constexpr unsigned long kMinDuration = 1;
constexpr unsigned long kMaxDuration = 30;
constexpr std::size_t kPortListOctets = 96;
constexpr long kRowActive = 1;
constexpr long kRowCreateAndGo = 4;
constexpr long kRowDestroy = 6;

// A row's key as the bridge sends it, whose byte order is the table's row order: a permit rule's 12 bytes
// (server address, client MAC, two zero bytes), a port's ifindex in 4 bytes, most significant first. In an
// OID, a permit row's index is the first 10 of them (sub-identifiers of 0 to 255), a port row's the ifindex.
// The switch's ports and trunks have the ifindexes 5121 to 5888.
using Key = std::vector<uint8_t>;
constexpr std::size_t kPermitIndexLength = 10;
constexpr std::size_t kPermitKeyLength = 12;
constexpr oid kMaxIfindex = 2147483647;
constexpr uint32_t kFirstIfindex = 5121;
constexpr uint32_t kLastIfindex = 5888;

// A row of a counter table: its key as a bridge row's (an interface's ifindex, a rule's server and client) and
// its counts in the order of the table's columns (forwarded, dropped, malformed; a rule's hits).
struct CounterRow {
    Key key;
    std::array<uint64_t, 3> counts{};
};

// The row order of keys (byte by byte; not Key's operator<, which GCC 12 at -O3 warns about wrongly).
bool precedes(const Key &a, const Key &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](uint8_t x, uint8_t y) { return x < y; });
}

Key port_key(uint32_t ifindex) {
    return {static_cast<uint8_t>(ifindex >> 24), static_cast<uint8_t>(ifindex >> 16),
            static_cast<uint8_t>(ifindex >> 8), static_cast<uint8_t>(ifindex)};
}

// The number in the first 4 bytes of a key: a port row's ifindex, a permit rule's server address.
uint32_t key_number(const Key &key) {
    uint32_t number = 0;
    for (std::size_t i = 0; i < 4 && i < key.size(); ++i)
        number = number << 8 | key[i];
    return number;
}

void log_line(int level, const std::string &text) {
    qvprintf(kLogModule, 0, level, QVLOG_FLAG_NEW_LINE, "snmp: %s\n", text.c_str());
}

// ---- Reading through the bridge

// The bridge command that reads the row of key, or the rows after it.
std::string show_line(Table table, const Key &key) {
    return (table == Table::permit ? "show ip dhcp screening snmp " : "show ip dhcp screening snmp ports ") +
           key_text(key);
}

// The row of key as stored now, with a bridge command of its own.
std::optional<Row> stored_row(Table table, const Key &key) {
    Reply reply = run(show_line(table, key), EXEC_MODE, Walk::get);
    if (reply.rows.empty())
        return std::nullopt;
    return std::move(reply.rows.front());
}

std::vector<Value> stored_scalars() { return run("show ip dhcp screening snmp", EXEC_MODE).scalars; }

// The rows of the counter tables, from one read of the data path's counters (the host's replays and the
// kernel's data path added up): the interfaces and the rules with any count, as "platform traffic show" lists
// them, in key order (the counters' maps are ordered by logical port and by rule, which is ifindex order and
// the bytes' order).
struct CounterRows {
    std::vector<CounterRow> interfaces;
    std::vector<CounterRow> rules;
};

CounterRows read_counter_rows() {
    const kernel::TrafficCounters counters = kernel::all_counters();
    CounterRows rows;
    for (const auto &[lport, c] : counters.interfaces)
        if (c.forwarded != 0 || c.dropped != 0 || c.malformed != 0)
            rows.interfaces.push_back(
                {port_key(if_st_lport_to_ifindex(lport)), {c.forwarded, c.dropped, c.malformed}});
    for (const auto &[rule, hits] : counters.rule_hits) {
        if (hits == 0)
            continue;
        Key key(kPermitKeyLength, 0);
        std::copy(rule.mac.begin(), rule.mac.end(), std::copy(rule.server.begin(), rule.server.end(), key.begin()));
        rows.rules.push_back({std::move(key), {hits}});
    }
    return rows;
}

const Value *value_of(const std::vector<Value> &values, int32_t column) {
    for (const Value &value : values)
        if (value.column == column)
            return &value;
    return nullptr;
}

// What one read request has read so far. The master asks for each repetition of a GETBULK in an AgentX
// request of its own, all carrying the SNMP request's transaction. The first walks on through as many rows as
// the table's previous request asked for, with one bridge command, and the others are answered from those
// rows. A request of another transaction starts afresh (and a SET forgets everything), so an answer is never
// older than the SNMP request it belongs to.
class Reads {
public:
    // The reads of the request (session, transaction) from now on; the same request keeps what it read.
    void begin(long session, long transaction) {
        if (std::make_pair(session, transaction) == request_)
            return;
        for (Stretch &stretch : tables_)
            if (stretch.served > 0)
                stretch.rows_per_walk = std::min(stretch.served, kMaxRowsPerWalk);
        clear();
        request_ = {session, transaction};
    }

    void clear() {
        request_ = {-1, -1};
        scalars_.reset();
        counters_.reset();
        exact_.reset();
        for (Stretch &stretch : tables_) {
            stretch.valid = false;
            stretch.rows.clear();
            stretch.served = 0;
            stretch.last_served.clear();
        }
    }

    const std::vector<Value> &scalars() {
        if (!scalars_)
            scalars_ = stored_scalars();
        return *scalars_;
    }

    // The row of key, or null; valid until the next read.
    const Row *row(Table table, const Key &key) {
        const Stretch &stretch = of(table);
        if (stretch.valid && precedes(stretch.from, key) &&
            (stretch.to_end || (!stretch.rows.empty() && !precedes(stretch.rows.back().key, key)))) {
            auto found = std::find_if(stretch.rows.begin(), stretch.rows.end(),
                                      [&key](const Row &row) { return row.key == key; });
            return found == stretch.rows.end() ? nullptr : &*found;
        }
        if (!exact_ || exact_->table != table || exact_->key != key)
            exact_ = Exact{table, key, stored_row(table, key)};
        return exact_->row ? &*exact_->row : nullptr;
    }

    // In a counter table: the row of key, and the first row after key; null for none. The counters are read
    // once per request.
    const CounterRow *counter_row(Table table, const Key &key) {
        const std::vector<CounterRow> &rows = counter_rows(table);
        auto found = std::lower_bound(rows.begin(), rows.end(), key,
                                      [](const CounterRow &row, const Key &k) { return precedes(row.key, k); });
        return found != rows.end() && found->key == key ? &*found : nullptr;
    }
    const CounterRow *counter_after(Table table, const Key &key) {
        const std::vector<CounterRow> &rows = counter_rows(table);
        auto found = std::upper_bound(rows.begin(), rows.end(), key,
                                      [](const Key &k, const CounterRow &row) { return precedes(k, row.key); });
        return found == rows.end() ? nullptr : &*found;
    }

    // The first row after key, or null; valid until the next read.
    const Row *after(Table table, const Key &key) {
        Stretch &stretch = of(table);
        if (!stretch.valid || precedes(key, stretch.from) || !covers_after(stretch, key)) {
            Reply reply = run(show_line(table, key), EXEC_MODE, Walk::next, stretch.rows_per_walk);
            stretch.valid = true;
            stretch.from = key;
            stretch.to_end = reply.rows.size() < stretch.rows_per_walk;
            stretch.rows = std::move(reply.rows);
        }
        auto found = first_after(stretch, key);
        if (found == stretch.rows.end())
            return nullptr;
        if (found->key != stretch.last_served) {
            ++stretch.served;
            stretch.last_served = found->key;
        }
        return &*found;
    }

private:
    static constexpr std::size_t kMaxRowsPerWalk = 64;

    // The rows of a table after `from`, in order: every one of them when to_end, else up to the last read.
    struct Stretch {
        bool valid = false;
        Key from;
        std::vector<Row> rows;
        bool to_end = false;
        std::size_t rows_per_walk = 1;
        std::size_t served = 0;  // rows handed out in this request
        Key last_served;
    };
    struct Exact {
        Table table;
        Key key;
        std::optional<Row> row;
    };

    static std::vector<Row>::const_iterator first_after(const Stretch &stretch, const Key &key) {
        return std::upper_bound(stretch.rows.begin(), stretch.rows.end(), key,
                                [](const Key &k, const Row &row) { return precedes(k, row.key); });
    }
    static bool covers_after(const Stretch &stretch, const Key &key) {
        return stretch.to_end || first_after(stretch, key) != stretch.rows.end();
    }
    Stretch &of(Table table) { return tables_[table == Table::permit ? 0 : 1]; }
    const std::vector<CounterRow> &counter_rows(Table table) {
        if (!counters_)
            counters_ = read_counter_rows();
        return table == Table::port_counters ? counters_->interfaces : counters_->rules;
    }

    std::pair<long, long> request_{-1, -1};
    std::optional<std::vector<Value>> scalars_;
    std::optional<CounterRows> counters_;
    std::optional<Exact> exact_;
    std::array<Stretch, 2> tables_;
};

Reads g_reads;

// ---- OIDs

// The sub-identifiers of a name after its object's OID: an instance's index.
using Index = std::span<const oid>;

bool starts_with(const oid *name, std::size_t length, const Oid &prefix) {
    return length >= prefix.size() && std::equal(prefix.begin(), prefix.end(), name);
}

bool is_scalar_index(Index rest) { return rest.size() == 1 && rest[0] == 0; }

// The object whose OID begins name, and the rest of name after it.
const Object *object_of(const oid *name, std::size_t length, Index &rest) {
    for (const Object &object : kObjects) {
        if (starts_with(name, length, object.name)) {
            rest = Index(name + object.name.size(), length - object.name.size());
            return &object;
        }
    }
    return nullptr;
}

// The key of a permit row's index, or of a port row's.
std::optional<Key> permit_index(Index rest) {
    if (rest.size() != kPermitIndexLength || std::any_of(rest.begin(), rest.end(), [](oid s) { return s > 255; }))
        return std::nullopt;
    Key key(kPermitKeyLength, 0);
    for (std::size_t i = 0; i < kPermitIndexLength; ++i)
        key[i] = static_cast<uint8_t>(rest[i]);
    return key;
}

std::optional<Key> port_index(Index rest) {
    if (rest.size() != 1 || rest[0] < 1 || rest[0] > kMaxIfindex)
        return std::nullopt;
    return port_key(static_cast<uint32_t>(rest[0]));
}

std::optional<Key> row_index(Table table, Index rest) {
    return by_rule(table) ? permit_index(rest) : port_index(rest);
}

// One instance of an object: its value and, for a row, the row's key (both valid until the next read).
struct Instance {
    const Object *object;
    const Value *value;  // null in a counter table
    const Key *key;      // null for a scalar
    uint64_t count = 0;  // in a counter table
};

std::optional<Instance> row_instance(const Object &object, const Row *row) {
    if (row == nullptr)
        return std::nullopt;
    const Value *value = value_of(row->values, object.column);
    if (value == nullptr)
        return std::nullopt;
    return Instance{&object, value, &row->key};
}

std::optional<Instance> counter_instance(const Object &object, const CounterRow *row) {
    if (row == nullptr)
        return std::nullopt;
    return Instance{&object, nullptr, &row->key, row->counts[static_cast<std::size_t>(object.column)]};
}

// The instance of object in the row of key, and in the first row after key.
std::optional<Instance> instance_at(const Object &object, const Key &key) {
    if (is_counter_table(object.table))
        return counter_instance(object, g_reads.counter_row(object.table, key));
    return row_instance(object, g_reads.row(object.table, key));
}

std::optional<Instance> instance_after(const Object &object, const Key &key) {
    if (is_counter_table(object.table))
        return counter_instance(object, g_reads.counter_after(object.table, key));
    return row_instance(object, g_reads.after(object.table, key));
}

// The instance of object named by the rest of a GET's name, if it exists.
std::optional<Instance> exact(const Object &object, Index rest) {
    switch (object.table) {
    case Table::scalars: {
        if (!is_scalar_index(rest))
            return std::nullopt;
        const Value *value = value_of(g_reads.scalars(), object.column);
        if (value == nullptr)
            return std::nullopt;
        return Instance{&object, value, nullptr};
    }
    default:
        if (auto key = row_index(object.table, rest))
            return instance_at(object, *key);
        return std::nullopt;
    }
}

// Subtracts one from the first count bytes of a key read as one number; false when they are zero.
bool decrement(Key &key, std::size_t count) {
    for (std::size_t i = count; i-- > 0;) {
        if (key[i]-- != 0)
            return true;
    }
    std::fill_n(key.begin(), count, 0);
    return false;
}

// The first instance of object whose index comes after rest (rest empty: the first instance). A rule's index
// (permit and rule-hit tables) is turned into the key after which the wanted rows lie, so that one get-next
// search finds the row.
std::optional<Instance> after(const Object &object, Index rest) {
    switch (object.table) {
    case Table::scalars: {
        const oid zero = 0;
        return rest.empty() ? exact(object, Index(&zero, 1)) : std::nullopt;
    }
    case Table::permit:
    case Table::rule_hits: {
        Key key(kPermitKeyLength, 0);
        bool inclusive = rest.size() < kPermitIndexLength;  // a shorter index comes before every row it begins
        for (std::size_t i = 0; i < rest.size() && i < kPermitIndexLength; ++i) {
            if (rest[i] > 255) {
                // No row has this sub-identifier: the rows wanted come after every key of the part before.
                std::fill(key.begin() + static_cast<std::ptrdiff_t>(i), key.begin() + kPermitIndexLength, 0xFF);
                inclusive = false;
                break;
            }
            key[i] = static_cast<uint8_t>(rest[i]);
        }
        // From a key of server address 0 the walk starts at the first row, which no rule (stored, or counted
        // by the data path) can precede; otherwise "at or after key" is "after key minus one".
        if (inclusive)
            decrement(key, kPermitIndexLength);
        return instance_after(object, key);
    }
    case Table::port:
    case Table::port_counters: {
        if (rest.empty() || rest[0] < kFirstIfindex)
            return instance_after(object, port_key(0));
        if (rest[0] >= kLastIfindex)
            return std::nullopt;
        return instance_after(object, port_key(static_cast<uint32_t>(rest[0])));
    }
    }
    return std::nullopt;
}

// The first instance of the module whose OID comes after name.
std::optional<Instance> next(const oid *name, std::size_t length) {
    for (const Object &object : kObjects) {
        std::optional<Instance> found;
        if (starts_with(name, length, object.name))
            found = after(object, Index(name + object.name.size(), length - object.name.size()));
        else if (snmp_oid_compare(name, length, object.name.data(), object.name.size()) < 0)
            found = after(object, {});
        if (found)
            return found;
    }
    return std::nullopt;
}

void set_value(netsnmp_variable_list *var, const Instance &instance) {
    const Object &object = *instance.object;
    if (object.type == ASN_COUNTER64) {
        const counter64 count{static_cast<u_long>(instance.count >> 32),
                              static_cast<u_long>(instance.count & 0xFFFFFFFFu)};
        snmp_set_var_typed_value(var, ASN_COUNTER64, &count, sizeof count);
        return;
    }
    const Value &value = *instance.value;
    if (object.type == ASN_OCTET_STR) {
        snmp_set_var_typed_value(var, ASN_OCTET_STR, value.octets.data(), value.octets.size());
    } else if (object.type == ASN_UNSIGNED) {
        const u_long number = static_cast<uint32_t>(value.number);
        snmp_set_var_typed_value(var, ASN_UNSIGNED, &number, sizeof number);
    } else {
        const long number = value.number;
        snmp_set_var_typed_value(var, ASN_INTEGER, &number, sizeof number);
    }
}

void answer_get(netsnmp_agent_request_info *reqinfo, netsnmp_request_info *request) {
    netsnmp_variable_list *var = request->requestvb;
    Index rest;
    const Object *object = object_of(var->name, var->name_length, rest);
    if (object == nullptr) {
        netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
        return;
    }
    if (auto instance = exact(*object, rest))
        set_value(var, *instance);
    else
        netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
}

void answer_next(netsnmp_request_info *request) {
    netsnmp_variable_list *var = request->requestvb;
    std::optional<Instance> instance = next(var->name, var->name_length);
    if (!instance)
        return;  // nothing after it here: the agent goes on with the next subtree
    // The instance's OID: the object's, then its index (a permit row's key less its two padding bytes).
    const Oid &object = instance->object->name;
    oid name[MAX_OID_LEN];
    std::size_t length = std::copy(object.begin(), object.end(), name) - name;
    if (instance->key == nullptr)
        name[length++] = 0;
    else if (by_rule(instance->object->table))
        for (std::size_t i = 0; i < kPermitIndexLength && i < instance->key->size(); ++i)
            name[length++] = (*instance->key)[i];
    else
        name[length++] = key_number(*instance->key);
    snmp_set_var_objid(var, name, length);
    set_value(var, *instance);
}

// ---- Changes

// One row (or scalar) that a SET changes, with what the request asks of it and what the row was before.
struct Change {
    Table table = Table::scalars;
    std::size_t request = 0;  // position of its first variable in the request
    Key key;                  // rows
    int32_t column = 0;       // scalars
    std::optional<std::vector<uint8_t>> ports;
    std::optional<long> status;
    long number = 0;  // a scalar's new value

    bool exists = false;  // read before the change
    std::vector<uint8_t> old_ports;
    long old_number = 0;
};

// The changes of one SET, kept from its first phase to its last. The undo lines are the commands that take
// back what its action phase did, in the order done.
using Undo = std::vector<std::pair<int, std::string>>;  // (mode, line)
struct Plan {
    std::vector<Change> changes;
    Undo undo;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

std::map<std::pair<long, long>, Plan> g_plans;  // by AgentX session and transaction

netsnmp_request_info *request_at(netsnmp_request_info *requests, std::size_t position) {
    for (std::size_t i = 0; requests != nullptr && i < position; ++i)
        requests = requests->next;
    return requests;
}

std::string port_words(const std::vector<uint8_t> &octets) { return port_list_text(port_list_of(octets)); }

std::vector<uint8_t> with_ports(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.resize(kPortListOctets);
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        a[i] |= b[i];
    return a;
}

// The interface names of the ports of a port list, joined by ",": a range the operator's commands take.
std::string port_names(const std::vector<uint8_t> &octets) {
    std::string names;
    for (std::size_t i = 0; i < octets.size() * 8; ++i) {
        if ((octets[i / 8] & (0x80u >> (i % 8))) == 0)
            continue;
        char name[21] = {};
        if (if_utl_ifindex_to_ifname(if_st_lport_to_ifindex(static_cast<uint32_t>(i + 1)), name) == -1)
            continue;
        names += (names.empty() ? "" : ",") + std::string(name);
    }
    return names;
}

std::string ifname_of(uint32_t ifindex) {
    char name[21] = {};
    if (if_utl_ifindex_to_ifname(ifindex, name) == -1)
        return "";
    return name;
}

// Reads a SET's variables into changes, one per row; the error of the first variable that cannot be set.
int plan_changes(netsnmp_request_info *requests, Plan &plan, netsnmp_request_info *&failed) {
    std::size_t position = 0;
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next, ++position) {
        failed = request;
        netsnmp_variable_list *var = request->requestvb;
        Index rest;
        const Object *object = object_of(var->name, var->name_length, rest);
        if (object == nullptr)
            return starts_with(var->name, var->name_length, g_objects) ? SNMP_ERR_NOTWRITABLE : SNMP_ERR_NOCREATION;
        Change change;
        change.table = object->table;
        change.request = position;
        switch (object->table) {
        case Table::scalars:
            if (!is_scalar_index(rest))
                return SNMP_ERR_NOCREATION;
            change.column = object->column;
            if (int error = netsnmp_check_vb_type(var, object->type); error != SNMP_ERR_NOERROR)
                return error;
            change.number = *var->val.integer;
            if (object->column == 1 && change.number != kTrapEnabled && change.number != kTrapDisabled)
                return SNMP_ERR_WRONGVALUE;
            if (object->column == 2 && (change.number < static_cast<long>(kMinDuration) ||
                                        change.number > static_cast<long>(kMaxDuration)))
                return SNMP_ERR_WRONGVALUE;
            break;
        case Table::port_counters:
        case Table::rule_hits:
            return SNMP_ERR_NOTWRITABLE;
        case Table::permit:
        case Table::port: {
            auto key = row_index(object->table, rest);
            if (!key)
                return SNMP_ERR_NOCREATION;
            change.key = *key;
            if (object->type == ASN_OCTET_STR) {
                if (int error = netsnmp_check_vb_type_and_size(var, ASN_OCTET_STR, kPortListOctets);
                    error != SNMP_ERR_NOERROR)
                    return error;
                change.ports = std::vector<uint8_t>(var->val.string, var->val.string + var->val_len);
            } else {
                if (int error = netsnmp_check_vb_type(var, ASN_INTEGER); error != SNMP_ERR_NOERROR)
                    return error;
                const long status = *var->val.integer;
                if (status != kRowActive && status != kRowCreateAndGo && status != kRowDestroy)
                    return SNMP_ERR_WRONGVALUE;
                change.status = status;
            }
            // A rule whose server the operator's command would refuse is never made or given ports: it would
            // be saved with the configuration and refused when the switch boots from it. Destroying one is
            // allowed.
            if (object->table == Table::permit && change.status != kRowDestroy &&
                !permit_server_allowed(key_number(change.key)))
                return SNMP_ERR_WRONGVALUE;
            break;
        }
        }
        // Variables of one row make one change.
        auto same_row = [&change](const Change &other) {
            return other.table == change.table && other.table != Table::scalars && other.key == change.key;
        };
        auto existing = std::find_if(plan.changes.begin(), plan.changes.end(), same_row);
        if (existing == plan.changes.end()) {
            plan.changes.push_back(std::move(change));
        } else {
            if (change.ports)
                existing->ports = with_ports(existing->ports.value_or(std::vector<uint8_t>{}), *change.ports);
            if (change.status) {
                if (existing->status && *existing->status != *change.status)
                    return SNMP_ERR_INCONSISTENTVALUE;
                existing->status = change.status;
            }
        }
    }
    failed = nullptr;
    return SNMP_ERR_NOERROR;
}

// Reads what a change is made to, and checks that it can be made: the error, or 0.
int check_change(Change &change) {
    switch (change.table) {
    case Table::scalars: {
        std::vector<Value> values = stored_scalars();
        const Value *value = value_of(values, change.column);
        if (value == nullptr)
            return SNMP_ERR_RESOURCEUNAVAILABLE;
        change.old_number = value->number;
        return SNMP_ERR_NOERROR;
    }
    case Table::permit: {
        std::optional<Row> row = stored_row(Table::permit, change.key);
        change.exists = row.has_value();
        if (row)
            if (const Value *ports = value_of(row->values, kPermitPortsColumn))
                change.old_ports = ports->octets;
        if (change.status == kRowDestroy)
            return change.ports ? SNMP_ERR_INCONSISTENTVALUE : SNMP_ERR_NOERROR;
        if (change.status == kRowCreateAndGo)
            return change.exists || !change.ports ? SNMP_ERR_INCONSISTENTVALUE : SNMP_ERR_NOERROR;
        if (change.status == kRowActive)
            return change.exists ? SNMP_ERR_NOERROR : SNMP_ERR_INCONSISTENTVALUE;
        return change.exists ? SNMP_ERR_NOERROR : SNMP_ERR_INCONSISTENTNAME;
    }
    case Table::port:
        change.exists = stored_row(Table::port, change.key).has_value();
        if (change.status == kRowCreateAndGo) {
            if (change.exists)
                return SNMP_ERR_INCONSISTENTVALUE;
            return ifname_of(key_number(change.key)).empty() ? SNMP_ERR_INCONSISTENTNAME : SNMP_ERR_NOERROR;
        }
        if (change.status == kRowActive && !change.exists)
            return SNMP_ERR_INCONSISTENTVALUE;
        return SNMP_ERR_NOERROR;
    case Table::port_counters:
    case Table::rule_hits:  // read-only: refused when the SET was planned
        break;
    }
    return SNMP_ERR_GENERR;
}

// Runs a command of a change; false when the command refused it.
bool command(int mode, const std::string &line) {
    Reply reply = run(line, mode);
    if (!reply.ok)
        log_line(QVLOG_LEVEL_INFO, "refused: " + line + (reply.printed.empty() ? "" : " (" + reply.printed + ")"));
    return reply.ok;
}

// True when every port of wanted is in have.
bool holds(const std::vector<uint8_t> &have, const std::vector<uint8_t> &wanted) {
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if ((wanted[i] & ~(i < have.size() ? have[i] : 0)) != 0)
            return false;
    return true;
}

// The operator's command that sets a scalar to a value.
std::string scalar_line(int32_t column, long value) {
    if (column == 1)
        return value == kTrapEnabled ? "ip dhcp screening trap-log" : "no ip dhcp screening trap-log";
    return "ip dhcp screening suppress-duration " + std::to_string(value);
}

// The operator's command that takes ports (interface names joined by ",") out of the rule of key.
std::string remove_ports_line(const Key &key, const std::string &names) {
    const bool all_clients = std::all_of(key.begin() + 4, key.end(), [](uint8_t b) { return b == 0; });
    const std::string words = key_text(key);
    const std::size_t blank = words.find(' ');
    return "no ip dhcp screening server-ip " + words.substr(0, blank) +
           (all_clients ? "" : " client-mac" + words.substr(blank)) + " ports " + names;
}

int apply_scalar(const Change &change, Undo &undo) {
    if (!command(CONFIG_MODE, scalar_line(change.column, change.number)))
        return SNMP_ERR_INCONSISTENTVALUE;
    std::vector<Value> values = stored_scalars();
    const Value *value = value_of(values, change.column);
    if (value == nullptr || value->number != change.number)
        return SNMP_ERR_COMMITFAILED;
    undo.emplace_back(CONFIG_MODE, scalar_line(change.column, change.old_number));
    return SNMP_ERR_NOERROR;
}

int apply_permit(const Change &change, Undo &undo) {
    const std::string key = key_text(change.key);
    if (change.status == kRowDestroy) {
        if (!change.exists)
            return SNMP_ERR_NOERROR;
        if (!command(CONFIG_MODE, "no ip dhcp screening snmp " + key))
            return SNMP_ERR_INCONSISTENTVALUE;
        if (stored_row(Table::permit, change.key))
            return SNMP_ERR_COMMITFAILED;
        undo.emplace_back(CONFIG_MODE,
                          "ip dhcp screening snmp " + key + " " + port_words(change.old_ports) + " create");
        return SNMP_ERR_NOERROR;
    }
    if (!change.ports)
        return SNMP_ERR_NOERROR;  // "active" on a rule that exists: nothing to do
    const char *action = change.exists ? " write" : " create";
    if (!command(CONFIG_MODE, "ip dhcp screening snmp " + key + " " + port_words(*change.ports) + action))
        return SNMP_ERR_INCONSISTENTVALUE;
    std::optional<Row> row = stored_row(Table::permit, change.key);
    const Value *ports = row ? value_of(row->values, kPermitPortsColumn) : nullptr;
    if (ports == nullptr || !holds(ports->octets, *change.ports))
        return SNMP_ERR_COMMITFAILED;
    if (!change.exists) {
        undo.emplace_back(CONFIG_MODE, "no ip dhcp screening snmp " + key);
        return SNMP_ERR_NOERROR;
    }
    // Only the ports the rule did not hold before are taken back.
    std::vector<uint8_t> added = *change.ports;
    for (std::size_t i = 0; i < added.size(); ++i)
        added[i] &= static_cast<uint8_t>(~(i < change.old_ports.size() ? change.old_ports[i] : 0));
    if (std::string names = port_names(added); !names.empty())
        undo.emplace_back(CONFIG_MODE, remove_ports_line(change.key, names));
    return SNMP_ERR_NOERROR;
}

int apply_port(const Change &change, Undo &undo) {
    const bool enable = change.status == kRowCreateAndGo;
    if (change.status == kRowActive || (!enable && !change.exists))
        return SNMP_ERR_NOERROR;
    const std::string on = "ip dhcp screening ports " + ifname_of(key_number(change.key));
    const std::string off = "no " + on;
    if (!command(CONFIG_MODE, enable ? on : off))
        return SNMP_ERR_INCONSISTENTVALUE;
    if (stored_row(Table::port, change.key).has_value() != enable)
        return SNMP_ERR_COMMITFAILED;
    undo.emplace_back(CONFIG_MODE, enable ? off : on);
    return SNMP_ERR_NOERROR;
}

// Makes a change through the switch's commands and reads it back; adds the commands that take it back to
// undo. The error, or 0: the command refusing the change is inconsistentValue, a change that did not take
// although the command accepted it (the kernel filter refused it) commitFailed.
int apply(const Change &change, Undo &undo) {
    switch (change.table) {
    case Table::scalars:
        return apply_scalar(change, undo);
    case Table::permit:
        return apply_permit(change, undo);
    case Table::port:
        return apply_port(change, undo);
    case Table::port_counters:
    case Table::rule_hits:
        break;
    }
    return SNMP_ERR_GENERR;
}

// Takes back what a SET's action phase did, the last change first.
void take_back(Plan &plan) {
    for (auto it = plan.undo.rbegin(); it != plan.undo.rend(); ++it)
        command(it->first, it->second);
    plan.undo.clear();
}

// The AgentX session and the transaction of a request (every phase of one SET has the same).
std::pair<long, long> request_of(netsnmp_agent_request_info *reqinfo) {
    if (reqinfo->asp == nullptr || reqinfo->asp->pdu == nullptr)
        return {0, 0};
    return {static_cast<long>(reqinfo->asp->pdu->sessid), reqinfo->asp->pdu->transid};
}

void answer_set(netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests) {
    const std::pair<long, long> transaction = request_of(reqinfo);
    switch (reqinfo->mode) {
    case MODE_SET_RESERVE1: {
        // A transaction its master abandoned long ago is forgotten.
        const auto now = std::chrono::steady_clock::now();
        std::erase_if(g_plans,
                      [now](const auto &entry) { return now - entry.second.started > std::chrono::minutes(1); });
        Plan &plan = g_plans[transaction] = Plan{};
        netsnmp_request_info *failed = nullptr;
        if (int error = plan_changes(requests, plan, failed); error != SNMP_ERR_NOERROR)
            netsnmp_set_request_error(reqinfo, failed, error);
        break;
    }
    case MODE_SET_RESERVE2:
        for (Change &change : g_plans[transaction].changes) {
            if (int error = check_change(change); error != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(reqinfo, request_at(requests, change.request), error);
                break;
            }
        }
        break;
    case MODE_SET_ACTION: {
        // A change that fails takes back the ones made before it at once: the master that would ask for it
        // may have given up on the request already.
        Plan &plan = g_plans[transaction];
        for (const Change &change : plan.changes) {
            if (int error = apply(change, plan.undo); error != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(reqinfo, request_at(requests, change.request), error);
                take_back(plan);
                break;
            }
        }
        break;
    }
    case MODE_SET_UNDO:
        take_back(g_plans[transaction]);
        break;
    case MODE_SET_FREE:
        g_plans.erase(transaction);
        break;
    default:  // MODE_SET_COMMIT: the action phase made the changes already
        break;
    }
}

int handle(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
           netsnmp_request_info *requests) {
    switch (reqinfo->mode) {
    case MODE_GET:
    case MODE_GETNEXT: {
        const std::pair<long, long> request = request_of(reqinfo);
        g_reads.begin(request.first, request.second);
        for (netsnmp_request_info *r = requests; r != nullptr; r = r->next)
            if (r->processed == 0) {
                if (reqinfo->mode == MODE_GET)
                    answer_get(reqinfo, r);
                else
                    answer_next(r);
            }
        break;
    }
    default:
        g_reads.clear();
        answer_set(reqinfo, requests);
        break;
    }
    return SNMP_ERR_NOERROR;
}

// net-snmp's own messages go to the platform log.
int log_message(int, int, void *server_arg, void *) {
    const auto *message = static_cast<const snmp_log_message *>(server_arg);
    if (message == nullptr || message->msg == nullptr)
        return 0;
    std::string text = message->msg;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    log_line(message->priority <= LOG_ERR ? QVLOG_LEVEL_ERROR
                                          : message->priority <= LOG_WARNING ? QVLOG_LEVEL_WARNING : QVLOG_LEVEL_DEBUG,
             text);
    return 0;
}

// ---- Illegal-server reports

// dhcpftrIllegalServer and the objects it carries (each as its instance .0), and snmpTrapOID.0.
const Oid kIllegalServer = {1, 3, 6, 1, 3, 2026, 0, 1};
const Oid kReportServer = {1, 3, 6, 1, 3, 2026, 1, 5, 1, 0};
const Oid kReportIfIndex = {1, 3, 6, 1, 3, 2026, 1, 5, 2, 0};
const Oid kReportClient = {1, 3, 6, 1, 3, 2026, 1, 5, 3, 0};
const Oid kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// The reports of the data path, handed from whichever thread classified a frame to the main loop: a queue,
// and a pipe whose read end wakes the loop.
struct Outbox {
    std::mutex mutex;
    std::vector<kernel::Report> reports;
    int wake[2] = {-1, -1};
};

Outbox &outbox() {
    static Outbox box;
    return box;
}

void post(const kernel::Report &report) {
    Outbox &box = outbox();
    {
        std::lock_guard lock(box.mutex);
        box.reports.push_back(report);
    }
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(box.wake[1], &byte, 1);  // a full pipe wakes the loop already
}

// Sends the notification of one report to the master.
void notify(const kernel::Report &report) {
    netsnmp_variable_list *vars = nullptr;
    const uint8_t server[4] = {static_cast<uint8_t>(report.server >> 24), static_cast<uint8_t>(report.server >> 16),
                               static_cast<uint8_t>(report.server >> 8), static_cast<uint8_t>(report.server)};
    const long ifindex = if_st_lport_to_ifindex(report.interface);
    snmp_varlist_add_variable(&vars, kSnmpTrapOid.data(), kSnmpTrapOid.size(), ASN_OBJECT_ID,
                              kIllegalServer.data(), kIllegalServer.size() * sizeof(oid));
    snmp_varlist_add_variable(&vars, kReportServer.data(), kReportServer.size(), ASN_IPADDRESS, server, 4);
    snmp_varlist_add_variable(&vars, kReportIfIndex.data(), kReportIfIndex.size(), ASN_INTEGER, &ifindex,
                              sizeof ifindex);
    snmp_varlist_add_variable(&vars, kReportClient.data(), kReportClient.size(), ASN_OCTET_STR,
                              report.client.data(), report.client.size());
    send_v2trap(vars);
    snmp_free_varbind(vars);
}

// Sends what the data path reported since the last time.
void send_reports() {
    Outbox &box = outbox();
    char drained[64];
    while (::read(box.wake[0], drained, sizeof drained) > 0) {
    }
    std::vector<kernel::Report> reports;
    {
        std::lock_guard lock(box.mutex);
        reports.swap(box.reports);
    }
    for (const kernel::Report &report : reports)
        notify(report);
}

// ---- The internal sessions

// net-snmp hands each request of the master to the agent, and the agent's answer back, through a pair of
// internal sessions joined by pipes. The answer to a phase of a SET goes back through a record of its
// transaction: the master's next message of the transaction overwrites the record's phase, the answer to the
// last phase frees it, and the record names the master's session without net-snmp checking that the session
// still exists. A master that gives up on a slow SET (its AgentX timeout) sends its undo, or drops the
// session, while the agent is still at the commit. Were the undo read before the answer to the commit was
// passed on, that answer would free the record and the undo's answer would use it later; were the session
// freed first (net-snmp frees a dropped session when the next wait is prepared), the answer would go through
// freed memory. So every internal message is handled in the turn of the loop that produced it, before the
// master's socket is read again: when a turn ends, nothing of the master's is in flight.
std::vector<int> g_descriptors;  // the descriptors net-snmp waited on last
std::vector<int> g_internal;     // those of the internal sessions (pipes)

void note_descriptors(const std::vector<int> &fds) {
    if (fds == g_descriptors)
        return;
    g_descriptors = fds;
    g_internal.clear();
    for (int fd : fds) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
            g_internal.push_back(fd);
    }
}

// Handles the internal sessions' messages until none is left.
void settle() {
    static std::vector<pollfd> polled;
    for (;;) {
        polled.clear();
        for (int fd : g_internal)
            polled.push_back({fd, POLLIN, 0});
        if (polled.empty() || ::poll(polled.data(), polled.size(), 0) <= 0)
            return;
        netsnmp_large_fd_set fds;
        netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
        bool any = false;
        for (const pollfd &p : polled)
            if ((p.revents & POLLIN) != 0) {
                NETSNMP_LARGE_FD_SET(p.fd, &fds);
                any = true;
            }
        if (any)
            snmp_read2(&fds);
        netsnmp_large_fd_set_cleanup(&fds);
        if (!any)
            return;
    }
}

bool g_started = false;

}  // namespace

std::unique_ptr<Agent> Agent::start(const std::string &socket, std::string &error) {
    if (g_started) {
        error = "the SNMP agent runs already";
        return nullptr;
    }
    if (socket.empty()) {
        error = "no AgentX socket given";
        return nullptr;
    }
    // A master that goes away must not end the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    snmp_disable_log();
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, log_message, nullptr);
    // A subagent of the master behind socket, pinging it every second to notice when it goes and comes
    // back; no configuration files, MIB files or persistent state of the host are read or written.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, socket.c_str());
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    ::setenv("MIBS", "", 1);
    if (init_agent(kName) != 0) {
        error = "net-snmp's agent library cannot start";
        return nullptr;
    }
    netsnmp_handler_registration *registration = netsnmp_create_handler_registration(
        kName, handle, g_objects.data(), g_objects.size(), HANDLER_CAN_RWRITE);
    if (registration == nullptr || netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
        error = "cannot register the objects of DHCPFTR-MIB";
        return nullptr;
    }
    if (::pipe2(outbox().wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = "no pipe for the illegal-server reports";
        return nullptr;
    }
    kernel::set_report_hook(post);
    init_snmp(kName);
    // Reading the (absent) configuration put the default ping interval back.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
    g_started = true;
    log_line(QVLOG_LEVEL_INFO, "AgentX subagent of the master at " + socket);
    return std::unique_ptr<Agent>(new Agent());
}

Agent::~Agent() {
    kernel::set_report_hook(nullptr);
    for (int &fd : outbox().wake) {
        ::close(fd);
        fd = -1;
    }
    snmp_shutdown(kName);
    g_started = false;
}

void Agent::prepare(loop::Wait &wait) {
    int count = 0;
    int block = 1;
    timeval timeout{};
    netsnmp_large_fd_set fds;
    netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
    snmp_select_info2(&count, &fds, &timeout, &block);
    static std::vector<int> snmp_fds;
    snmp_fds.clear();
    for (int fd = 0; fd < count; ++fd)
        if (NETSNMP_LARGE_FD_ISSET(fd, &fds))
            snmp_fds.push_back(fd);
    netsnmp_large_fd_set_cleanup(&fds);
    note_descriptors(snmp_fds);
    wait.fds.insert(wait.fds.end(), snmp_fds.begin(), snmp_fds.end());
    wait.fds.push_back(outbox().wake[0]);
    if (block == 0)
        wait.at_most(static_cast<int>(timeout.tv_sec * 1000 + (timeout.tv_usec + 999) / 1000));
}

void Agent::dispatch(const std::vector<int> &ready) {
    auto is_internal = [](int fd) { return std::find(g_internal.begin(), g_internal.end(), fd) != g_internal.end(); };
    bool net = false;
    bool internal = false;
    for (int fd : ready) {
        if (fd == outbox().wake[0])
            send_reports();
        else if (is_internal(fd))
            internal = true;
        else
            net = true;
    }
    // Internal messages left by the last alarms (their waits read every session) go before the master's next.
    if (internal)
        settle();
    if (net) {
        netsnmp_large_fd_set fds;
        netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
        for (int fd : ready)
            if (fd != outbox().wake[0] && !is_internal(fd))
                NETSNMP_LARGE_FD_SET(fd, &fds);
        snmp_read2(&fds);
        netsnmp_large_fd_set_cleanup(&fds);
    } else if (!internal) {
        snmp_timeout();
    }
    netsnmp_check_outstanding_agent_requests();
    settle();
    // The alarms (the ping, the reconnection) wait for the master and read every session meanwhile: only
    // once nothing is in flight.
    run_alarms();
}

}  // namespace sim::snmp

#else  // built without net-snmp

namespace sim::snmp {

std::unique_ptr<Agent> Agent::start(const std::string &, std::string &error) {
    error = "this build has no SNMP agent (net-snmp's agent library was not found)";
    return nullptr;
}

Agent::~Agent() = default;
void Agent::prepare(loop::Wait &) {}
void Agent::dispatch(const std::vector<int> &) {}

}  // namespace sim::snmp

#endif
