// Byte layouts of the user/kernel messages: words in this host's byte order, which the big-endian build checks
// as the target's own bytes; the server and the MAC in network order on every host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dhcpftr_msg.h"
#include "support/daemon_harness.h"

namespace {

std::string hex(const void *data, size_t length) {
    std::string out;
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < length; ++i) {
        char text[4];
        std::snprintf(text, sizeof(text), i == 0 ? "%02X" : " %02X", bytes[i]);
        out += text;
    }
    return out;
}

// The bytes of a 32-bit word in this host's order.
std::string host_word(uint32_t value) { return hex(&value, sizeof(value)); }

template <typename Msg>
Msg poisoned() {
    Msg msg;
    std::memset(&msg, 0xEE, sizeof(msg));
    return msg;
}

TEST(ChannelMessages, RuleMessageCarriesCodePortsThenTheKey) {
    DHCPFTR_PERMIT_RULE_ENTRY_T entry = harness::rule("10.1.2.3", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {1, 32, 33, 768});
    for (uint32_t op : {DHCPFTR_OP_ADD_RULE, DHCPFTR_OP_DEL_RULE, DHCPFTR_OP_STK_DEL_RULE}) {
        SCOPED_TRACE(op);
        auto msg = poisoned<DHCPFTR_U_RULE_MSG_T>();
        _dhcpftr_pack_set_rule_entry(&msg, &entry, op);
        const auto *bytes = reinterpret_cast<const uint8_t *>(&msg);
        EXPECT_EQ(hex(bytes, 4), host_word(op));
        EXPECT_EQ(hex(bytes + 4, 4), host_word(0x80000001u)) << "ports 1 and 32";
        EXPECT_EQ(hex(bytes + 8, 4), host_word(0x80000000u)) << "port 33";
        EXPECT_EQ(hex(bytes + 96, 4), host_word(0x00000001u)) << "port 768";
        EXPECT_EQ(hex(bytes + 100, 4), "0A 01 02 03") << "the server in dotted order, on every host";
        EXPECT_EQ(hex(bytes + 104, 6), "00 11 22 33 44 55");
    }
}

TEST(ChannelMessages, PortsMessageCarriesCodeAndPorts) {
    PORTLIST_T ports = harness::ports({2, 100});
    auto msg = poisoned<DHCPFTR_U_PORTS_MSG_T>();
    _dhcpftr_pack_set_ports_entry(&msg, &ports, DHCPFTR_OP_DEL_PORTS);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&msg);
    EXPECT_EQ(hex(bytes, 4), host_word(5));
    EXPECT_EQ(hex(bytes + 4, 4), host_word(0x40000000u));
    EXPECT_EQ(hex(bytes + 16, 4), host_word(0x10000000u)) << "port 100 is bit 28 of word 3";
    EXPECT_EQ(std::memcmp(&msg.portlist, &ports, sizeof(ports)), 0);
}

TEST(ChannelMessages, ValueMessagesCarryTheStateAsOneByteOrTheMinutesAsAWord) {
    auto trap_on = poisoned<DHCPFTR_U_VALUE_MSG_T>();
    _dhcpftr_pack_set_value_entry(&trap_on, 1, DHCPFTR_OP_SET_TRAP);
    auto trap_off = poisoned<DHCPFTR_U_VALUE_MSG_T>();
    _dhcpftr_pack_set_value_entry(&trap_off, 0x100, DHCPFTR_OP_SET_TRAP);  // the low byte only
    auto duration = poisoned<DHCPFTR_U_VALUE_MSG_T>();
    _dhcpftr_pack_set_duration_entry(&duration, 10, DHCPFTR_OP_SET_DURATION);

    EXPECT_EQ(hex(&trap_on, 5), host_word(2) + " 01");
    EXPECT_EQ(hex(&trap_off, 5), host_word(2) + " 00");
    EXPECT_EQ(hex(&duration, 8), host_word(3) + " " + host_word(10));
}

}  // namespace
