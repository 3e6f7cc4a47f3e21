// The boot-time pending-rule lists. The settings' defaults are shown by the transcripts, their changes by the
// commits (commit_test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dhcpftr_db.h"
#include "memory/sim_memory.h"
#include "support/daemon_harness.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const char kDbFile[] = "modules/dhcpftr/user/src/dhcpftr_db";

DHCPFTR_PENDING_RULE_T pending_key(const char *server, uint8_t last_mac_byte = 0) {
    DHCPFTR_PERMIT_RULE_ENTRY_T entry = harness::rule(server, {0, 0, 0, 0, 0, last_mac_byte});
    DHCPFTR_PENDING_RULE_T key{};
    key.server_ip = entry.server_ip;
    memcpy(key.client_mac, entry.client_mac, sizeof(key.client_mac));
    key.next = reinterpret_cast<DHCPFTR_PENDING_RULE_T *>(&key);  // must not be copied into the list
    return key;
}

// The servers queued for a trunk, head first.
std::vector<std::string> pending_servers(int trunk_id) {
    std::vector<std::string> out;
    for (DHCPFTR_PENDING_RULE_T *n = _dhcpftr_get_list_first(trunk_id); n != nullptr; n = n->next) {
        DHCPFTR_PERMIT_RULE_ENTRY_T e{};
        e.server_ip = n->server_ip;
        out.push_back(harness::server_of(e) + "/" + std::to_string(n->client_mac[5]));
    }
    return out;
}

class PendingRules : public ::testing::Test {
protected:
    void SetUp() override { Dhcpftr_DB_Init(); }
};

// The lists are stacks of copies, one per trunk; the clear frees every node of every list.
TEST_F(PendingRules, ListsAreStacksPerTrunkAndTheClearEmptiesThemAll) {
    dhcpftr_clear_temp_rule();  // already empty: nothing happens
    DHCPFTR_PENDING_RULE_T first = pending_key("10.0.0.1", 1);
    DHCPFTR_PENDING_RULE_T second = pending_key("10.0.0.2", 2);
    DHCPFTR_PENDING_RULE_T other = pending_key("10.0.0.3");
    _dhcpftr_add_list_first(5, &first);
    _dhcpftr_add_list_first(5, &second);
    _dhcpftr_add_list_first(127, &other);
    EXPECT_THAT(pending_servers(5), ElementsAre("10.0.0.2/2", "10.0.0.1/1"));
    EXPECT_THAT(pending_servers(6), IsEmpty());
    EXPECT_THAT(pending_servers(127), ElementsAre("10.0.0.3/0"));
    EXPECT_NE(_dhcpftr_get_list_first(5), &second) << "the list holds its own copy";

    _dhcpftr_remove_list_first(5);
    EXPECT_THAT(pending_servers(5), ElementsAre("10.0.0.1/1"));
    _dhcpftr_remove_list_first(5);
    _dhcpftr_remove_list_first(5);  // empty: nothing happens
    EXPECT_THAT(pending_servers(5), IsEmpty());
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 1);

    for (int trunk_id : {0, 0, 64})
        _dhcpftr_add_list_first(trunk_id, &first);
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 4);
    dhcpftr_clear_temp_rule();
    for (int trunk_id = 0; trunk_id < DHCPFTR_TRUNK_NUM; ++trunk_id)
        EXPECT_EQ(_dhcpftr_get_list_first(trunk_id), nullptr);
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 0);
}

TEST_F(PendingRules, BadTrunkIdsAndAllocationFailuresQueueNothing) {
    harness::capture_log();
    DHCPFTR_PENDING_RULE_T key = pending_key("10.0.0.1");
    for (int trunk_id : {-1, 128}) {
        _dhcpftr_add_list_first(trunk_id, &key);
        EXPECT_EQ(_dhcpftr_get_list_first(trunk_id), nullptr);
        _dhcpftr_remove_list_first(trunk_id);
    }
    sim::memory::fail_next_allocations(1);
    _dhcpftr_add_list_first(3, &key);
    EXPECT_EQ(_dhcpftr_get_list_first(3), nullptr);
    EXPECT_EQ(sim::memory::total_live_blocks(), 0u);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("101 0 _dhcpftr_add_list_first [#]: Invalid trunk id -1\n",
                            "101 0 _dhcpftr_get_list_first [#]: Invalid trunk id -1\n",
                            "101 0 _dhcpftr_remove_list_first [#]: Invalid trunk id -1\n",
                            "101 0 _dhcpftr_add_list_first [#]: Invalid trunk id 128\n",
                            "101 0 _dhcpftr_get_list_first [#]: Invalid trunk id 128\n",
                            "101 0 _dhcpftr_remove_list_first [#]: Invalid trunk id 128\n",
                            "101 0 _dhcpftr_add_list_first [#]: Memory allocated failed\n"));
}

}  // namespace
