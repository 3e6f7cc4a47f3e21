// The SNMP bridge: the table readers' order, the row keys and column values the printers send, the scalar
// show under each output-flags value, and the rule commands with their exact terminal messages and log lines.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <map>

#include "chassis/sim_chassis.h"
#include "dhcpftr_cli.h"
#include "dhcpftr_snmp.h"
#include "kernel/sim_kernel.h"
#include "snmp/sim_agent.h"
#include "snmp/sim_snmp.h"
#include "support/daemon_harness.h"

using harness::lports;
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;
using Args = std::vector<std::string>;
using Ports = std::vector<uint32_t>;

namespace {

Lines g_calls;  // every call of record_table_out, as "area|target [column/kind] format value"
cli *g_ctx = nullptr;
int g_answer = 0;

int record_table_out(void *destination, ...) {
    va_list ap;
    va_start(ap, destination);
    std::string call = destination == &g_ctx->table_area ? "area" : destination == g_ctx->out_target ? "target" : "?";
    const char *format = va_arg(ap, const char *);
    if (std::strcmp(format, "%d") != 0) {  // a column descriptor came first
        const auto *column = reinterpret_cast<const UIB_COLUMN_T *>(format);
        call += " " + std::to_string(column->column) + "/" + std::to_string(column->kind);
        format = va_arg(ap, const char *);
    }
    g_calls.push_back(call + " " + format + " " + std::to_string(va_arg(ap, int)));
    va_end(ap);
    return g_answer;
}

// The arguments of the rule set command: the 24 words "0" except those given.
Args set_args(const char *server, std::map<int, std::string> words, const char *action = "add",
              const char *mac = "00:00:00:00:00:00") {
    Args args{server, mac};
    for (int i = 0; i < PORTLIST_WORDS; ++i)
        args.push_back(words.count(i) != 0 ? words[i] : "0");
    args.push_back(action);
    return args;
}

// The log lines of the bridge commands themselves.
Lines own_log() {
    Lines own;
    for (const std::string &line : harness::daemon_log())
        if (line.compare(6, 13, "dhcpftr_snmp_") == 0)
            own.push_back(line);
    return own;
}

class SnmpBridge : public ::testing::Test {
protected:
    void SetUp() override { harness::boot_quietly(); }
    std::string run(CLI_HANDLER_FN handler, Args args) { return term.call(handler, args); }
    harness::Terminal term;
};

TEST_F(SnmpBridge, ReadersWalkInKeyOrder) {
    DHCPFTR_PERMIT_RULE_ENTRY_T row = harness::rule("0.0.0.0", {}, {9}), before = row;
    EXPECT_EQ(_dhcpftr_permit_rule_getnext(&row), 0);  // empty store: nothing, not even from the start
    EXPECT_EQ(std::memcmp(&row, &before, sizeof row), 0);
    for (auto e : {harness::rule("200.1.1.1", {}, {3}), harness::rule("10.1.1.1", {0, 0, 0, 0, 0, 5}, {2}),
                   harness::rule("10.1.1.1", {}, {1, 641})})
        ASSERT_EQ(Dhcpftr_DB_Insert_Rule(&e), 1);
    const struct { bool next; const char *from; uint8_t mac5; int found; const char *key; Ports ports; } cases[] = {
        {true, "0.0.0.0", 7, 1, "10.1.1.1 0", {1, 641}}, {true, "10.1.1.1", 0, 1, "10.1.1.1 5", {2}},
        {true, "127.0.0.1", 0, 1, "200.1.1.1 0", {3}},   {true, "200.1.1.1", 0, 0, "200.1.1.1 0", {9}},
        {false, "10.1.1.1", 5, 1, "10.1.1.1 5", {2}},    {false, "10.1.1.1", 4, 0, "10.1.1.1 4", {9}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.from) + " " + std::to_string(c.mac5));
        row = harness::rule(c.from, {0, 0, 0, 0, 0, c.mac5}, {9});
        EXPECT_EQ(c.next ? _dhcpftr_permit_rule_getnext(&row) : _dhcpftr_permit_rule_get(&row), c.found);
        EXPECT_EQ(harness::server_of(row) + " " + std::to_string(row.client_mac[5]), c.key);
        EXPECT_EQ(lports(row.portlist), c.ports);
    }
    uint32_t port = 0, on = 5125, off = 5122;  // the port table, in logical-port order
    EXPECT_EQ(_dhcpftr_enable_port_getnext(&port), 0);
    dhcpftr_cfg_portlist_db = harness::ports({1, 5, 700});
    const struct { uint32_t from; int found; uint32_t next; } port_cases[] = {
        {0, 1, 5121}, {5121, 1, 5125}, {5123, 1, 5125}, {5125, 1, 5820}, {5820, 0, 5820}};
    for (const auto &c : port_cases) {
        SCOPED_TRACE(c.from);
        port = c.from;
        EXPECT_EQ(_dhcpftr_enable_port_getnext(&port), c.found);
        EXPECT_EQ(port, c.next);
    }
    EXPECT_EQ(_dhcpftr_enable_port_get(&on), 1);
    EXPECT_EQ(_dhcpftr_enable_port_get(&off), 0);
}

// Keys most significant byte first; a stop request ends the row at once; flags 2 send only the key.
TEST_F(SnmpBridge, RowPrintersSendKeyThenColumns) {
    DHCPFTR_PERMIT_RULE_ENTRY_T rule = harness::rule("200.1.2.3", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {1, 32, 700});
    uint32_t ifindex = 5820;
    std::vector<uint8_t> octets(96);
    octets[0] = 0x80, octets[3] = 0x01, octets[87] = 0x10;  // lports 1, 32 and 700
    const std::vector<uint8_t> rule_key{200, 1, 2, 3, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0};
    const std::vector<uint8_t> port_key{0x00, 0x00, 0x16, 0xBC};
    const sim::snmp::Value ports{3, "%96J", 0, octets}, status{4, "%d", 1, {}}, port_status{2, "%d", 1, {}};
    const struct { bool rule; uint32_t flags; int32_t stop_at; int result; sim::snmp::Row row; } cases[] = {
        {true, 4, 0, 0, {rule_key, {ports, status}}}, {true, 4, 3, 4, {rule_key, {}}},
        {true, 4, 4, 4, {rule_key, {ports}}},         {true, 2, 0, 0, {rule_key, {}}},
        {false, 4, 0, 0, {port_key, {port_status}}},  {false, 4, 2, 4, {port_key, {}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + " " + std::to_string(c.stop_at));
        sim::snmp::Collector collector;
        collector.attach(*term.context());
        collector.stop_at(c.stop_at);
        term.context()->out_flags = c.flags;
        EXPECT_EQ(c.rule ? _dhcpftr_print_permit_rule(term.context(), &rule)
                         : _dhcpftr_print_enable_ports(term.context(), &ifindex), c.result);
        EXPECT_EQ(collector.rows(), std::vector<sim::snmp::Row>{c.row});
    }
    EXPECT_EQ(harness::daemon_log()[0],
              "101 0 _dhcpftr_print_permit_rule [#]: server_ip 200.1.2.3,mac 00:11:22:33:44:55\n");
}

TEST_F(SnmpBridge, ScalarShowFollowsTheOutputFlags) {
    cli *ctx = g_ctx = term.context();
    const struct { uint32_t flags; int trap; int answer; int result; Lines calls; } cases[] = {
        {0, 0, 0, 0, {"target %d 2", "target %d 10"}}, {1, 1, 4, 0, {"target %d 1", "target %d 10"}},
        {3, 0, 0, 0, {"target 1/-100 %d 2", "target 2/-100 %d 10"}}, {2, 0, 0, 0, {}},
        {4, 1, 0, 0, {"area 1/-100 %d 1", "area 2/-100 %d 10"}}, {5, 0, 4, 4, {"area 1/-100 %d 2"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flags);
        dhcpftr_enable_trap = c.trap;
        ctx->out_flags = c.flags;
        ctx->table_out = record_table_out;
        g_answer = c.answer;
        g_calls.clear();
        EXPECT_EQ(term.run(dhcp_screening_snmp_global_show), c.result);
        EXPECT_EQ(g_calls, c.calls);
    }
    ctx->table_out = nullptr;
    EXPECT_EQ(term.run(dhcp_screening_snmp_global_show), 0);
}

// Words are port-list words, most significant bit first; "write" never creates; ports are added, never
// replaced; 24 zero words for a stored rule reach the kernel filter and change nothing; delete takes it all.
TEST_F(SnmpBridge, RuleSetAddsTheWordsPorts) {
    interface port64{};  // lport 64 is no port of the default chassis: give it a record
    port64.ifindex = 5184;
    sim::Chassis::instance().global_table()->insert(&port64);
    const sim::kernel::RuleKey key{{10, 1, 1, 1}, {}};
    const struct { const char *action; int word; const char *text; size_t sent; Ports ports; } steps[] = {
        {"write", 0, "1", 0, {}},          {"create", 0, "0x80000000", 1, {1}},
        {"write", 0, "1", 2, {1, 32}},     {"add", 1, "1", 3, {1, 32, 64}},
        {"write", 20, "-2147483648", 4, {1, 32, 64, 641}}, {"write", 0, "0", 5, {1, 32, 64, 641}},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(std::string(s.action) + " " + s.text);
        EXPECT_EQ(run(dhcpftr_snmp_cfg_permit_rule, set_args("10.1.1.1", {{s.word, s.text}}, s.action)), "0|");
        EXPECT_EQ(sim::kernel::messages().size(), s.sent);
        EXPECT_EQ(lports(harness::stored_rules()[key]), s.ports);
    }
    EXPECT_THAT(lports(sim::kernel::tables().rules[key]), ElementsAre(1, 32, 64, 641));
    const Args del{"10.1.1.1", "0000.0000.0000"}, add = set_args("10.1.1.1", {{0, "2"}});
    const struct { bool del; int32_t refusal; const char *out; } refusals[] = {  // -100 fails, -40 fails a delete
        {false, -100, "1|"}, {false, -7, "0|"}, {true, -100, "1|"}, {true, -40, "1|"}, {true, -7, "0|"}};
    for (const auto &r : refusals) {
        SCOPED_TRACE(r.refusal);
        sim::kernel::refuse_next(1, r.refusal);
        const CLI_HANDLER_FN handler = r.del ? dhcpftr_snmp_cfg_del_permit_rule : dhcpftr_snmp_cfg_permit_rule;
        EXPECT_EQ(run(handler, r.del ? del : add), r.out);
    }
    EXPECT_EQ(run(dhcpftr_snmp_cfg_del_permit_rule, del), "0|");
    EXPECT_TRUE(harness::stored_rules().empty() && sim::kernel::tables().rules.empty());
}

// Refused before any commit (the store holds 255 rules): nothing is sent and nothing changes. The shell's
// rule command is refused a new key here too, with its message.
TEST_F(SnmpBridge, RefusalsSendNothing) {
    for (uint32_t i = 0; i < DHCPFTR_MAX_RULES; ++i) {
        DHCPFTR_PERMIT_RULE_ENTRY_T e = harness::rule("10.1.0.1", {}, {1});
        e.server_ip = htonl(ntohl(e.server_ip) + i);
        ASSERT_EQ(Dhcpftr_DB_Insert_Rule(&e), 1);
    }
    const CLI_HANDLER_FN add = dhcpftr_snmp_cfg_permit_rule, del = dhcpftr_snmp_cfg_del_permit_rule;
    const std::string set = "101 0 dhcpftr_snmp_cfg_permit_rule [#]: ";
    const std::string bad_mac = "1|% Unable to translate mac address ";
    const struct { CLI_HANDLER_FN handler; Args args; std::string out; Lines log; } cases[] = {
        {add, set_args("10.1.1.1", {}), "1|", {set + "Insert rule portlist is empty\n"}},
        {add, set_args("0.0.0.0", {{0, "1"}}), "1|", {set + "Invalid server ip 0.0.0.0\n"}},
        {add, set_args("0.0.0.0", {{0, "1"}}, "write"), "0|", {}},  // "write": nothing is stored, no refusal
        {add, set_args("10.1.1.1", {{0, "1"}, {20, "0x1000"}}), "1|",
         {set + "interface port-channel20 is not existed\n"}},
        {add, set_args("10.1.1.1", {{1, "0x8000"}}), "1|", {set + "interface  is not existed\n"}},
        {add, set_args("10.1.1.1", {{0, "1"}}), "1|",
         {set + "Insert rule status code -50\n", set + "Number of permit rule should not exceed 255\n"}},
        {add, set_args("10.1.1.1", {{0, "1"}}, "add", "00:11:22:33:44"), bad_mac + "00:11:22:33:44\n", {}},
        {add, set_args("10.1.1.1", {{23, "12a"}}), "1|% Invalid Portlist translate value\n", {}},
        {del, {"10.1.1.1", "0g:11:22:33:44:55"}, bad_mac + "0g:11:22:33:44:55\n", {}},
        {dhcpftr_snmp_show_permit_rule, {"10.1.1.1", "0011.2233"}, bad_mac + "0011.2233\n", {}},
        {del, {"10.9.9.9", "0000.0000.0001"}, "1|",
         {"104 0 dhcpftr_snmp_cfg_del_permit_rule [#]: Rule: ip 10.9.9.9, client mac 0000.0000.0001 not found\n"}},
        {dhcpftr_add_permit_rule, {"10.2.0.1", "eth1.1"}, "1|% Number of permit rule should not exceed 255\n", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.log.empty() ? c.out : c.log.back());
        harness::capture_log();
        EXPECT_EQ(run(c.handler, c.args), c.out);
        EXPECT_EQ(own_log(), c.log);
    }
    EXPECT_TRUE(sim::kernel::messages().empty());
    EXPECT_EQ(Dhcpftr_DB_entry_number(), 255);
}

// The installed command strings and modes, run as the SNMP agent runs them.
TEST_F(SnmpBridge, CommandsThroughTheShell) {
    using sim::snmp::run;
    std::string line = "ip dhcp screening snmp 10.1.1.1 00:11:22:33:44:55 0x80000000";
    for (int i = 1; i < PORTLIST_WORDS; ++i)
        line += " 0";
    EXPECT_TRUE(run(line + " create", CONFIG_MODE).ok);
    sim::snmp::Reply rule = run("show ip dhcp screening snmp 0.0.0.0 0000.0000.0000", EXEC_MODE, sim::snmp::Walk::next);
    ASSERT_EQ(rule.rows.size(), 1u);
    EXPECT_EQ(sim::snmp::key_text(rule.rows[0].key), "10.1.1.1 00:11:22:33:44:55");
    EXPECT_EQ(run("show ip dhcp screening snmp", EXEC_MODE).scalars,
              (std::vector<sim::snmp::Value>{{1, "%d", 2, {}}, {2, "%d", 10, {}}}));
}

// The SNMP agent lets a permit rule have exactly the servers that the operator's rule command takes: every
// first octet, each with the ends of the host, network, broadcast and reserved ranges after it.
TEST_F(SnmpBridge, AgentTakesTheServersOfTheOperatorsRuleCommand) {
    const char *tails[] = {"0.0.0",   "0.0.1",   "0.0.255",   "0.1.0",       "0.255.255",   "1.2.3",
                           "254.0.0", "254.1.1", "255.0.0", "255.255.0", "255.255.254", "255.255.255"};
    for (int first = 0; first < 256; ++first) {
        for (const char *tail : tails) {
            const std::string server = std::to_string(first) + "." + tail;
            SCOPED_TRACE(server);
            // The address is checked before the ports, and eth1.49 does not exist: nothing is ever stored.
            const std::string printed =
                sim::snmp::run("ip dhcp screening server-ip " + server + " ports eth1.49", CONFIG_MODE).printed;
            ASSERT_THAT(printed, ::testing::AnyOf("% Invalid IPv4 address\n", "% No such interface eth1.49\n"));
            EXPECT_EQ(sim::snmp::permit_server_allowed(ntohl(inet_addr(server.c_str()))),
                      printed != "% Invalid IPv4 address\n");
        }
    }
}

}  // namespace
