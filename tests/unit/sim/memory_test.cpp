// The memory manager: zero-filled blocks accounted by tag, injected failures, bad frees caught.
#include "memory/sim_memory.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "memmgr.h"

namespace {

constexpr const char *kTag = "memory_test.c";

class Memory : public ::testing::Test {
protected:
    void SetUp() override { sim::memory::fail_next_allocations(0); }
    void TearDown() override { sim::memory::fail_next_allocations(0); }
};

TEST_F(Memory, BlocksAreZeroFilledAndAccountedByTag) {
    const std::size_t blocks_before = sim::memory::total_live_blocks();
    const std::size_t bytes_before = sim::memory::total_live_bytes();
    auto *a = static_cast<unsigned char *>(mfh_calloc(100, 0, kTag, 1));
    void *b = mfh_calloc(28, 0, kTag, 2);
    void *empty = mfh_calloc(0, 0, kTag, 3);
    void *other = mfh_calloc(8, 0, "other.c", 4);
    ASSERT_TRUE(a && b && empty && other);
    EXPECT_NE(empty, b);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(a[i], 0) << i;
    EXPECT_EQ(sim::memory::live_blocks(kTag), 3u);
    EXPECT_EQ(sim::memory::live_bytes(kTag), 128u);
    EXPECT_EQ(sim::memory::usage_by_tag().at("other.c"), (sim::memory::Usage{1, 8}));
    EXPECT_EQ(sim::memory::total_live_blocks(), blocks_before + 4);
    EXPECT_EQ(sim::memory::total_live_bytes(), bytes_before + 136);

    memmgr_free(0, a, kTag, 10);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 2u);
    EXPECT_EQ(sim::memory::live_bytes(kTag), 28u);
    memmgr_free(0, b, kTag, 11);
    memmgr_free(0, empty, kTag, 12);
    memmgr_free(0, other, "other.c", 13);
    memmgr_free(0, nullptr, kTag, 14);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 0u);
    EXPECT_EQ(sim::memory::usage_by_tag().count(kTag), 0u);
    EXPECT_EQ(sim::memory::total_live_blocks(), blocks_before);
    EXPECT_EQ(sim::memory::total_live_bytes(), bytes_before);
}

TEST_F(Memory, InjectedFailuresReturnNullThenAllocationsResume) {
    sim::memory::fail_next_allocations(2);
    EXPECT_EQ(mfh_calloc(16, 0, kTag, 1), nullptr);
    EXPECT_EQ(mfh_calloc(16, 0, kTag, 2), nullptr);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 0u);
    void *block = mfh_calloc(16, 0, kTag, 3);
    EXPECT_NE(block, nullptr);
    memmgr_free(0, block, kTag, 4);
}

TEST_F(Memory, FreeingWhatIsNotALiveBlockAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
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

TEST_F(Memory, ConcurrentUseKeepsTheCountsRight) {
    const std::size_t before = sim::memory::total_live_blocks();
    auto worker = [] {
        std::vector<void *> blocks;
        for (int i = 0; i < 500; ++i)
            blocks.push_back(mfh_calloc(8, 0, kTag, i));
        for (void *block : blocks)
            memmgr_free(0, block, kTag, 0);
    };
    std::thread first(worker), second(worker);
    first.join();
    second.join();
    EXPECT_EQ(sim::memory::total_live_blocks(), before);
    EXPECT_EQ(sim::memory::live_blocks(kTag), 0u);
}

}  // namespace
