// The permit-rule store: key order, close-next, next, inserts and deletes, and every failure line with its
// level. A lookup's line and a walk that deletes as it goes are checked through the commits (commit_test) and
// the flushes (topology_test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dhcpftr_db.h"
#include "memory/sim_memory.h"
#include "avl/sim_avl.h"
#include "support/daemon_harness.h"

using harness::Mac;
using harness::rule;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const char kDbFile[] = "modules/dhcpftr/user/src/dhcpftr_db";

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dhcpftr_DB_Init();
        harness::capture_log();
    }

    static void insert(const char *server, const Mac &mac = {}, std::initializer_list<uint32_t> ports = {1}) {
        DHCPFTR_PERMIT_RULE_ENTRY_T e = rule(server, mac, ports);
        ASSERT_EQ(Dhcpftr_DB_Insert_Rule(&e), 1) << server;
    }
};

// Servers are ordered as unsigned numbers, then MACs byte by byte; close-next finds the smallest greater key.
TEST_F(StoreTest, KeyOrderAndCloseNext) {
    EXPECT_EQ(Dhcpftr_DB_is_empty(), 1);
    EXPECT_EQ(Dhcpftr_DB_Get_First_Rule(), nullptr);
    for (const char *server : {"192.168.0.1", "128.0.0.1", "10.0.0.1", "127.255.255.255"})
        insert(server);
    for (const Mac &mac : {Mac{1, 0, 0, 0, 0, 0}, Mac{0, 0, 0, 0, 0, 1}, Mac{0xFF, 0, 0, 0, 0, 0}})
        insert("10.0.0.1", mac);
    EXPECT_THAT(harness::stored_keys(),
                ElementsAre("10.0.0.1 00:00:00:00:00:00", "10.0.0.1 00:00:00:00:00:01", "10.0.0.1 01:00:00:00:00:00",
                            "10.0.0.1 FF:00:00:00:00:00", "127.255.255.255 00:00:00:00:00:00",
                            "128.0.0.1 00:00:00:00:00:00", "192.168.0.1 00:00:00:00:00:00"));
    EXPECT_EQ(Dhcpftr_DB_entry_number(), 7);
    EXPECT_EQ(Dhcpftr_DB_is_empty(), 0);
    const struct {
        const char *server;
        Mac mac;
        const char *next;  // the key found, "" for none
    } cases[] = {
        {"1.1.1.1", {}, "10.0.0.1 00:00:00:00:00:00"},                   // below every key
        {"10.0.0.1", {}, "10.0.0.1 00:00:00:00:00:01"},                  // on a key: its successor
        {"10.0.0.1", {0, 0, 0, 0, 0, 2}, "10.0.0.1 01:00:00:00:00:00"},  // between two MACs
        {"10.0.0.5", {}, "127.255.255.255 00:00:00:00:00:00"},           // between two servers
        {"127.255.255.255", {}, "128.0.0.1 00:00:00:00:00:00"},          // on a key, across 2^31
        {"128.0.0.0", {}, "128.0.0.1 00:00:00:00:00:00"},                // above 2^31: unsigned order
        {"192.168.0.1", {}, ""},                                         // on the last key
        {"200.0.0.1", {}, ""},                                           // above every key
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server);
        DHCPFTR_PERMIT_RULE_ENTRY_T key = rule(c.server, c.mac);
        const DHCPFTR_PERMIT_RULE_ENTRY_T *next = Dhcpftr_DB_Get_Rule_CloseNext(&key);
        EXPECT_EQ(next == nullptr ? "" : harness::key_text(*next), c.next);
    }
}

TEST_F(StoreTest, InsertKeepsItsOwnCopyAndRefusesAPresentKeyOrAFailedAllocation) {
    DHCPFTR_PERMIT_RULE_ENTRY_T e = rule("10.1.1.1", {}, {1, 2});
    sim::memory::fail_next_allocations(1);
    EXPECT_EQ(Dhcpftr_DB_Insert_Rule(&e), 0);
    EXPECT_EQ(harness::daemon_log().back(), "107 0 Dhcpftr_DB_Insert_Rule [#]: Memory allocated failed!\n");
    EXPECT_EQ(Dhcpftr_DB_is_empty(), 1);
    ASSERT_EQ(Dhcpftr_DB_Insert_Rule(&e), 1) << "only the next allocation fails";
    PORTLIST_set_port(&e.portlist, 7);
    harness::capture_log();
    EXPECT_EQ(Dhcpftr_DB_Insert_Rule(&e), 0);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("101 0 Dhcpftr_DB_Insert_Rule [#]: Insert rule => server_ip A010101, MAC= "
                            "00:00:00:00:00:00\n",
                            "103 0 Dhcpftr_DB_Insert_Rule [#]: Entry already existed!\n"));
    EXPECT_THAT(harness::lports(Dhcpftr_DB_Get_First_Rule()->portlist), ElementsAre(1u, 2u));
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 1);
}

TEST_F(StoreTest, NextIsFoundFromTheKeyAndFailsOnlyForAKeyNotStored) {
    insert("10.0.0.1");
    insert("10.0.0.2");
    DHCPFTR_PERMIT_RULE_ENTRY_T copy = rule("10.0.0.1", {}, {});
    harness::capture_log();
    DHCPFTR_PERMIT_RULE_ENTRY_T *next = Dhcpftr_DB_Get_Next_Rule(&copy);  // a copy of a stored key works
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(harness::server_of(*next), "10.0.0.2");
    EXPECT_EQ(Dhcpftr_DB_Get_Next_Rule(next), nullptr);
    EXPECT_THAT(harness::daemon_log(), IsEmpty()) << "the last rule has no successor, without a log line";

    ASSERT_EQ(Dhcpftr_DB_Delete_Rule(&copy), 1);
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 1) << "a deleted entry is freed";
    harness::capture_log();
    EXPECT_EQ(Dhcpftr_DB_Get_Next_Rule(&copy), nullptr);
    EXPECT_EQ(Dhcpftr_DB_Get_Next_Rule(nullptr), nullptr);
    EXPECT_THAT(harness::daemon_log(), ElementsAre("104 0 Dhcpftr_DB_Get_Next_Rule [#]: Find next rule failed\n",
                                                   "104 0 Dhcpftr_DB_Get_Next_Rule [#]: Invalid parameter\n"));
}

TEST_F(StoreTest, DeleteOfAMissingKeyOrARefusedRemovalKeepsTheStore) {
    insert("10.0.0.1", {0xAA, 0, 0, 0, 0, 0x0B});
    harness::capture_log();
    DHCPFTR_PERMIT_RULE_ENTRY_T missing = rule("10.0.0.2");
    EXPECT_EQ(Dhcpftr_DB_Delete_Rule(&missing), 0);
    sim::avl::fail_next_removals(1);
    DHCPFTR_PERMIT_RULE_ENTRY_T stored = rule("10.0.0.1", {0xAA, 0, 0, 0, 0, 0x0B});
    EXPECT_EQ(Dhcpftr_DB_Delete_Rule(&stored), 0);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("101 0 Dhcpftr_DB_Delete_Rule [#]: Delete rule => server_ip A000002, MAC= "
                            "00:00:00:00:00:00\n",
                            "101 0 Dhcpftr_DB_Delete_Rule [#]: rule => server_ip A000002, "
                            "MAC=00:00:00:00:00:00 not found\n",
                            "101 0 Dhcpftr_DB_Delete_Rule [#]: Delete rule => server_ip A000001, MAC= "
                            "AA:00:00:00:00:0B\n",
                            "101 0 Dhcpftr_DB_Delete_Rule [#]: rule => server_ip A000001, "
                            "MAC=AA:00:00:00:00:0B avl remove failed\n"));
    EXPECT_EQ(Dhcpftr_DB_entry_number(), 1);
    EXPECT_EQ(sim::memory::live_blocks(kDbFile), 1);
}

TEST(StoreBeforeInit, EveryOperationLogsDatabaseNotInitAtItsLevel) {
    harness::capture_log();
    DHCPFTR_PERMIT_RULE_ENTRY_T e = rule("10.0.0.1");
    EXPECT_EQ(Dhcpftr_DB_Get_Rule(&e), nullptr);
    EXPECT_EQ(Dhcpftr_DB_Get_Rule_CloseNext(&e), nullptr);
    EXPECT_EQ(Dhcpftr_DB_Insert_Rule(&e), 0);
    EXPECT_EQ(Dhcpftr_DB_Get_First_Rule(), nullptr);
    EXPECT_EQ(Dhcpftr_DB_Get_Next_Rule(&e), nullptr);
    EXPECT_EQ(Dhcpftr_DB_Delete_Rule(&e), 0);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("107 0 Dhcpftr_DB_Get_Rule [#]: Database not init\n",
                            "107 0 Dhcpftr_DB_Get_Rule_CloseNext [#]: Database not init\n",
                            "101 0 Dhcpftr_DB_Insert_Rule [#]: Insert rule => server_ip A000001, MAC= "
                            "00:00:00:00:00:00\n",
                            "107 0 Dhcpftr_DB_Insert_Rule [#]: Database not init\n",
                            "104 0 Dhcpftr_DB_Get_First_Rule [#]: Database not init\n",
                            "104 0 Dhcpftr_DB_Get_Next_Rule [#]: Database not init\n",
                            "101 0 Dhcpftr_DB_Delete_Rule [#]: Delete rule => server_ip A000001, MAC= "
                            "00:00:00:00:00:00\n",
                            "104 0 Dhcpftr_DB_Delete_Rule [#]: Database not init\n"));
    EXPECT_EQ(sim::memory::total_live_blocks(), 0);
}

}  // namespace
