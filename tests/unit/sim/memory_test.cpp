// The memory manager: zero-filled blocks accounted by tag, bad frees caught. The injected allocation failures
// are checked where the daemon meets them (tests/unit/daemon/store_test.cpp, settings_test.cpp).
#include "memory/sim_memory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "memmgr.h"

namespace {

using sim::memory::Usage;
constexpr const char *kTag = "memory_test.c";

TEST(Memory, BlocksAreZeroFilledAndAccountedByTag) {
    const Usage before{sim::memory::total_live_blocks(), sim::memory::total_live_bytes()};
    auto *a = static_cast<unsigned char *>(mfh_calloc(100, 0, kTag, 1));
    void *b = mfh_calloc(28, 0, kTag, 2), *empty = mfh_calloc(0, 0, kTag, 3), *other = mfh_calloc(8, 0, "o.c", 4);
    ASSERT_TRUE(a && b && empty && other);
    EXPECT_NE(empty, b);
    EXPECT_TRUE(std::all_of(a, a + 100, [](unsigned char byte) { return byte == 0; }));
    EXPECT_EQ(sim::memory::usage_by_tag().at(kTag), (Usage{3, 128}));
    EXPECT_EQ(sim::memory::usage_by_tag().at("o.c"), (Usage{1, 8}));
    EXPECT_EQ(sim::memory::total_live_blocks(), before.blocks + 4);
    EXPECT_EQ(sim::memory::total_live_bytes(), before.bytes + 136);
    memmgr_free(0, a, kTag, 10);
    EXPECT_EQ((Usage{sim::memory::live_blocks(kTag), sim::memory::live_bytes(kTag)}), (Usage{2, 28}));
    for (void *block : {b, empty, other, static_cast<void *>(nullptr)})
        memmgr_free(0, block, kTag, 11);
    EXPECT_EQ(sim::memory::usage_by_tag().count(kTag), 0u);
    EXPECT_EQ((Usage{sim::memory::total_live_blocks(), sim::memory::total_live_bytes()}), before);
}

// The default ("fast") death-test style forks without executing the binary again, which works under qemu-ppc.
TEST(Memory, FreeingWhatIsNotALiveBlockAborts) {
    int not_a_block = 0;
    EXPECT_DEATH(memmgr_free(0, &not_a_block, kTag, 7), "is not a live block of mfh_calloc");
    void *block = mfh_calloc(4, 0, kTag, 8);
    memmgr_free(0, block, kTag, 9);
    EXPECT_DEATH(memmgr_free(0, block, kTag, 10), "freed at memory_test.c:10\\) is not a live block");
}

}  // namespace
