// The memory manager: zero-filled blocks accounted by tag, injected failures, bad frees caught.
#include "memory/sim_memory.h"

#include <gtest/gtest.h>

#include "memmgr.h"

namespace {

constexpr const char *kTag = "memory_test.c";

TEST(Memory, BlocksAreZeroFilledAndAccountedByTag) {
    const sim::memory::Usage before{sim::memory::total_live_blocks(), sim::memory::total_live_bytes()};
    auto *a = static_cast<unsigned char *>(mfh_calloc(100, 0, kTag, 1));
    void *b = mfh_calloc(28, 0, kTag, 2);
    void *empty = mfh_calloc(0, 0, kTag, 3);
    void *other = mfh_calloc(8, 0, "other.c", 4);
    ASSERT_TRUE(a && b && empty && other);
    EXPECT_NE(empty, b);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(a[i], 0) << i;
    EXPECT_EQ(sim::memory::usage_by_tag().at(kTag), (sim::memory::Usage{3, 128}));
    EXPECT_EQ(sim::memory::usage_by_tag().at("other.c"), (sim::memory::Usage{1, 8}));
    EXPECT_EQ(sim::memory::total_live_blocks(), before.blocks + 4);
    EXPECT_EQ(sim::memory::total_live_bytes(), before.bytes + 136);

    memmgr_free(0, a, kTag, 10);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 2u);
    EXPECT_EQ(sim::memory::live_bytes(kTag), 28u);
    for (void *block : {b, empty, other, static_cast<void *>(nullptr)})
        memmgr_free(0, block, kTag, 11);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 0u);
    EXPECT_EQ(sim::memory::usage_by_tag().count(kTag), 0u);
    EXPECT_EQ((sim::memory::Usage{sim::memory::total_live_blocks(), sim::memory::total_live_bytes()}), before);
}

TEST(Memory, InjectedFailuresReturnNullThenAllocationsResume) {
    sim::memory::fail_next_allocations(2);
    EXPECT_EQ(mfh_calloc(16, 0, kTag, 1), nullptr);
    EXPECT_EQ(mfh_calloc(16, 0, kTag, 2), nullptr);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 0u);
    void *block = mfh_calloc(16, 0, kTag, 3);
    EXPECT_NE(block, nullptr);
    memmgr_free(0, block, kTag, 4);
}

// The default ("fast") death-test style forks without executing the binary again, which works under qemu-ppc.
TEST(Memory, FreeingWhatIsNotALiveBlockAborts) {
    int not_a_block = 0;
    EXPECT_DEATH(memmgr_free(0, &not_a_block, kTag, 7), "is not a live block of mfh_calloc");
    EXPECT_DEATH(
        {
            void *block = mfh_calloc(4, 0, kTag, 8);
            memmgr_free(0, block, kTag, 9);
            memmgr_free(0, block, kTag, 10);
        },
        "freed at memory_test.c:10\\) is not a live block");
}

}  // namespace
