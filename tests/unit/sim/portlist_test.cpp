// Port lists: the bit of each port, checked on word values so the test holds on either byte order.
#include "portlist.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Ports = std::vector<uint32_t>;

PORTLIST_T list_of(const Ports &ports) {
    PORTLIST_T list;
    PORTLIST_clear_all(&list);
    for (uint32_t port : ports)
        PORTLIST_set_port(&list, port);
    return list;
}

Ports ports_of(const PORTLIST_T &list) {
    Ports ports;
    for (uint32_t p = PORTLIST_get_first_port(&list, 0); p != 0; p = PORTLIST_get_first_port(&list, p))
        ports.push_back(p);
    return ports;
}

TEST(Portlist, EachPortIsOneBitOfOneWord) {
    const struct { uint32_t port; int word; uint32_t value; } cases[] = {
        {1, 0, 0x80000000u}, {32, 0, 0x00000001u}, {33, 1, 0x80000000u}, {100, 3, 0x10000000u}, {768, 23, 1u}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port);
        PORTLIST_T list = list_of({c.port});
        for (int w = 0; w < PORTLIST_WORDS; ++w)
            EXPECT_EQ(list.word[w], w == c.word ? c.value : 0u) << "word " << w;
        EXPECT_TRUE(PORTLIST_chk_port_exist(&list, c.port));
        EXPECT_FALSE(PORTLIST_chk_port_exist(&list, c.port == 1 ? 2 : c.port - 1));
        EXPECT_EQ(PORTLIST_get_first_port(&list, c.port - 1), c.port);
        EXPECT_EQ(PORTLIST_get_first_port(&list, c.port), 0u);
        EXPECT_FALSE(PORTLIST_chk_empty(&list));
        PORTLIST_clear_port(&list, c.port);
        EXPECT_TRUE(PORTLIST_chk_empty(&list));
    }
}

TEST(Portlist, PortsOutsideTheRangeAreIgnored) {
    PORTLIST_T full;
    for (uint32_t &word : full.word)
        word = 0xFFFFFFFFu;
    for (uint32_t port : {0u, 769u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(ports_of(list_of({port})), Ports{});
        EXPECT_FALSE(PORTLIST_chk_port_exist(&full, port));
        PORTLIST_clear_port(&full, port);
        EXPECT_EQ(ports_of(full).size(), 768u);
    }
}

// or and maskout give the same result whether dst is a separate list, a, or b.
TEST(Portlist, SetOperationsWorkInPlace) {
    const PORTLIST_T a = list_of({1, 40, 700}), b = list_of({40, 41, 768}), c = list_of({5});
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        PORTLIST_T x = a, y = b, out = c;
        PORTLIST_T *dst = mode == 0 ? &out : mode == 1 ? &x : &y;
        PORTLIST_or(dst, &x, &y);
        EXPECT_EQ(ports_of(*dst), (Ports{1, 40, 41, 700, 768}));
        x = a, y = b, out = c;
        PORTLIST_maskout(dst, &x, &y);
        EXPECT_EQ(ports_of(*dst), (Ports{1, 700}));
    }
    EXPECT_TRUE(PORTLIST_chk_overlap(&a, &b));
    EXPECT_FALSE(PORTLIST_chk_overlap(&a, &c));
}

}  // namespace
