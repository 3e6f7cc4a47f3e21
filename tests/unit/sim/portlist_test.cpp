// Port lists and their text: the bit of each port, checked on word values so the test holds on either byte order;
// the interface-range parser, the names a text stands for or that it is malformed, and the validation walk. That
// every port list the daemon's printer writes reads back to the same list is the port-text fuzz target's check.
#include "portlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chassis/sim_chassis.h"
#include "cli.h"
#include "format/sim_format.h"
#include "if_table.h"

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

using Names = std::vector<std::string>;

// The rest of a walk with get_next; nothing when it reports the text malformed (which hands out no name).
std::optional<Names> rest(IF_RANGE_PARSER_T *parser) {
    Names names;
    int error = 0;
    while (const char *name = if_range_parser_get_next(parser, &error))
        names.push_back(name);
    if (error != 0) {
        EXPECT_TRUE(names.empty());
        return std::nullopt;
    }
    return names;
}

std::optional<Names> walk(const std::string &text) {
    auto parser = std::make_unique<IF_RANGE_PARSER_T>();
    if_range_parser_init(text.c_str(), parser.get());
    return rest(parser.get());
}

TEST(RangeParser, TextsStandForTheirNames) {
    const struct {
        std::string text;
        std::optional<Names> names;  // nothing: malformed
    } cases[] = {
        {"  eth1.1-1.3 , port-channel3 ,vlan1  ", Names{"eth1.1", "eth1.2", "eth1.3", "port-channel3", "vlan1"}},
        {"\teth3.47 -\teth3.48,eth10.48", Names{"eth3.47", "eth3.48", "eth10.48"}},
        {"port-channel5-7,port-channel8-port-channel8", Names{"port-channel5", "port-channel6", "port-channel7",
                                                              "port-channel8"}},
        // Single names as written, also beyond the chassis: the validation refuses them.
        {"foo,port-channel,eth01.1,abcdefghijklmnopqrst,eth1.49", Names{"foo", "port-channel", "eth01.1",
                                                                        "abcdefghijklmnopqrst", "eth1.49"}},
        {"eth10.47-10.48,port-channel127-128", Names{"eth10.47", "eth10.48", "port-channel127", "port-channel128"}},
        {"eth1.1" + std::string(IF_RANGE_TEXT_MAX - 7, ' '), Names{"eth1.1"}},
        {"eth1.1" + std::string(IF_RANGE_TEXT_MAX - 6, ' '), std::nullopt},  // longer than the buffer
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 50));
        EXPECT_EQ(walk(c.text), c.names);
    }
    for (const char *text : {"", "  ", ",", "eth1.1,", ",eth1.1", "eth1.1, ,eth1.2", "eth1.1 eth1.2",
                             "abcdefghijklmnopqrstu", "eth1.3-1.1", "port-channel9-5", "eth1.1-2.3", "eth1.1-eth2.3",
                             "eth1.1-3", "port-channel1-eth1.4", "eth1.1-port-channel4", "port-channel1-1.4",
                             "vlan1-3", "foo-bar", "eth1-3", "eth1.1.1-1.3", "eth1.1-", "-eth1.1", "port-channel-3",
                             "eth1.1 -, eth1.2", "eth0.1-0.3", "eth1.0-1.3", "port-channel0-2", "eth1.01-1.03",
                             "port-channel1-12345", "eth1.1-1.8x", "eth1.1-1.3-1.5", "eth1.1-1. 3",
                             // runs beyond the chassis
                             "eth1.48-1.49", "port-channel128-129", "eth11.1-11.2", "eth9999.9999-9999.9999"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(walk(text), std::nullopt);
    }
}

// Validation context: the names the callback saw, those it refuses, and what was printed.
struct Validation {
    Names refuse;
    Names seen;
    std::string out;
};

int capture(void *target, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    static_cast<Validation *>(target)->out += sim::vformat(fmt, ap);
    va_end(ap);
    return 0;
}

int check_name(const char *name, struct cli *cli) {
    auto *v = static_cast<Validation *>(cli->out_target);
    v->seen.push_back(name);
    return std::count(v->refuse.begin(), v->refuse.end(), name) != 0 ? 1 : 0;
}

// Validate calls back once per name in order, also after a refused one; the walk then starts at the first
// name, once. A malformed text is printed trimmed, and no name is called back.
TEST(RangeParser, ValidateWalksTheNamesThenTheWalkStartsAgain) {
    const struct {
        const char *text;
        Names refuse;
        int result;
        Names seen;
        const char *out;
        std::optional<Names> walk;
    } cases[] = {
        {"eth1.2-1.3,port-channel4", {}, 0, {"eth1.2", "eth1.3", "port-channel4"}, "",
         Names{"eth1.2", "eth1.3", "port-channel4"}},
        {"eth1.1-1.4,eth2.1", {"eth1.2", "eth1.4"}, 1, {"eth1.1", "eth1.2", "eth1.3", "eth1.4", "eth2.1"}, "",
         Names{"eth1.1", "eth1.2", "eth1.3", "eth1.4", "eth2.1"}},
        {"  eth1.1,,eth1.2 \t", {}, 1, {}, "% Invalid interface range: eth1.1,,eth1.2\n", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Validation v{c.refuse, {}, ""};
        struct cli cli {};
        cli.out = capture;
        cli.out_target = &v;
        auto parser = std::make_unique<IF_RANGE_PARSER_T>();
        if_range_parser_init(c.text, parser.get());
        EXPECT_EQ(if_range_parser_validate(parser.get(), &cli, check_name) != 0, c.result != 0);
        EXPECT_EQ(v.seen, c.seen);
        EXPECT_EQ(v.out, c.out);
        EXPECT_EQ(rest(parser.get()), c.walk);
        EXPECT_EQ(rest(parser.get()), c.walk ? std::optional<Names>(Names{}) : std::nullopt) << "walked once";
        EXPECT_EQ(if_range_parser_validate(parser.get(), nullptr, nullptr) != 0, !c.walk) << "no context";
    }
}

}  // namespace
