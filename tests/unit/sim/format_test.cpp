// sim::format: printf conversions read their arguments by type, and "%r" prints an IPv4 address as "%s" would.
#include "format/sim_format.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const unsigned char kAddress[4] = {10, 1, 2, 3};

// sim::format prints what the C library prints for the same format and arguments.
template <typename... Args>
void expect_like_printf(const char *fmt, Args... args) {
    std::string expected(static_cast<std::size_t>(std::snprintf(nullptr, 0, fmt, args...)), '\0');
    std::snprintf(expected.data(), expected.size() + 1, fmt, args...);
    EXPECT_EQ(sim::format(fmt, args...), expected) << fmt;
}

TEST(Format, AddressIsPaddedAndCutAsAString) {
    const struct { const char *fmt, *expected; } cases[] = {
        {"[%18r]", "[          10.1.2.3]"}, {"[%-18r]", "[10.1.2.3          ]"}, {"[%.4r]", "[10.1]"},
        {"[%-7.4r]", "[10.1   ]"},          {"[%0-9r]", "[10.1.2.3 ]"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sim::format(c.fmt, kAddress), c.expected) << c.fmt;
    // However wide the field, nothing is cut.
    EXPECT_EQ(sim::format("%-300r|", kAddress), "10.1.2.3" + std::string(292, ' ') + "|");
    // "*" takes width and precision from the arguments: a negative width is "-", a negative precision none.
    EXPECT_EQ(sim::format("[%*r|%.*r|%.*r|%s]", -10, kAddress, 2, kAddress, -1, kAddress, "x"),
              "[10.1.2.3  |10|10.1.2.3|x]");
    // The address is its bytes in network order, first octet first, whatever the host's order.
    const std::uint32_t address = inet_addr("192.168.0.254"), zero = 0;
    EXPECT_EQ(sim::format("%r %r", &address, &zero), "192.168.0.254 0.0.0.0");
}

// Each group mixes argument sizes and ends with a string, which comes out right only when every argument
// before it was read with its own size.
TEST(Format, EveryConversionReadsItsArgumentBySize) {
    expect_like_printf("%hhd %hhu %hd %hu %d %u %ld %lu %lld %llu|%s", 300, 511, 70000, 70000, INT_MIN, UINT_MAX,
                       LONG_MIN, ULONG_MAX, LLONG_MIN, ULLONG_MAX, "end");
    expect_like_printf("%zd %zu %jd %ju %td %tu %Ld %Lu %qd|%s", static_cast<std::ptrdiff_t>(-3), SIZE_MAX,
                       INTMAX_MIN, UINTMAX_MAX, static_cast<std::ptrdiff_t>(-9), static_cast<std::ptrdiff_t>(9),
                       -5LL, 5ULL, 6LL, "end");
    expect_like_printf("%f %-10.2e %E %g %G %a %A %Lf %Le %Lg %La|%s", 1.5, -2.25e10, 3e-5, 0.0001, 1e20, 1.0,
                       -0.5, 1.5L, 2.5L, 1e-3L, 3.0L, "end");
    expect_like_printf("%c %lc %s %ls %5.2s %p %p|%s", 'x', static_cast<wint_t>(L'y'), "str", L"wide", "abc",
                       static_cast<const void *>(kAddress), static_cast<const void *>(nullptr), "end");
    expect_like_printf("%o %#o %lx %#X %+d % d %05d %-5d %'d %hhx %hx %*.*d|%s", 8u, 8u, 0xABCDEFUL, 255u, 5, 5,
                       -42, 42, 1234567, 0x1FF, 0x1FFFF, -6, 3, 7, "end");
}

TEST(Format, PercentSignsUnknownConversionsNullPointersCountsAndErrno) {
    const struct { const char *fmt, *expected; } cases[] = {
        {"100%%", "100%"}, {"100%", "100%"}, {"%y %d", "%y 7"}, {"%-5y|%d", "%-5y|7"}};
    for (const auto &c : cases)
        EXPECT_EQ(sim::format(c.fmt, 7), c.expected) << c.fmt;
    int count = -1;
    signed char small_count = -1;
    EXPECT_EQ(sim::format("ab%ncd%hhn|%s|%r", &count, &small_count, static_cast<const char *>(nullptr),
                          static_cast<const void *>(nullptr)),
              "abcd|(null)|(null)");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(small_count, 4);
    errno = ENOENT;
    EXPECT_EQ(sim::format("%m"), std::strerror(ENOENT));
}

}  // namespace
