// The balanced tree, checked against std::set after every step of random insert/remove sequences. The injected
// removal failures are checked where the daemon meets them (tests/unit/daemon/store_test.cpp, channel/commit_test.cpp).
#include "avl/sim_avl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "avl.h"

namespace {

int compare_ints(void *a, void *b) {
    return *static_cast<int *>(a) - *static_cast<int *>(b);  // items are small
}

int item_of(const avl_node *node) {
    return *static_cast<int *>(AVL_NODE_INFO(node));
}

// Checks the parent link, balance and stored height of every node below node; returns the subtree's height.
int checked_height(const avl_node *node, const avl_node *parent) {
    if (node == nullptr)
        return 0;
    const int left = checked_height(node->left, node), right = checked_height(node->right, node);
    const int height = 1 + std::max(left, right);
    EXPECT_TRUE(node->parent == parent && std::abs(left - right) <= 1 && node->height == height) << item_of(node);
    return height;
}

// A tree made by avl_create and freed after the test; item(i) is the address of an int holding i (0..255).
class Avl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(avl_create(&tree_, 0, compare_ints), 0); }
    void TearDown() override { sim::avl::destroy_tree(tree_); }
    void *item(int i) { return &(items_[i] = i); }

    // The tree holds exactly `expected`, in order through avl_first/avl_getnext, and every node is sound.
    void expect_tree_is(const std::set<int> &expected) {
        ASSERT_EQ(avl_get_tree_size(tree_), static_cast<int>(expected.size()));
        std::vector<int> walked;
        // Bounded, so that broken links fail the test instead of walking in circles.
        for (avl_node *node = avl_first(tree_); node != nullptr && walked.size() <= expected.size();
             node = avl_getnext(tree_, node))
            walked.push_back(item_of(node));
        ASSERT_EQ(walked, std::vector<int>(expected.begin(), expected.end()));
        const avl_node *root = avl_first(tree_);
        while (root != nullptr && root->parent != nullptr)
            root = root->parent;
        checked_height(root, nullptr);
        ASSERT_FALSE(HasFailure());
    }

    avl_tree *tree_ = nullptr;
    int items_[256] = {};
};

class AvlRandom : public Avl, public ::testing::WithParamInterface<unsigned> {};

TEST_P(AvlRandom, MatchesASetAfterEveryStep) {
    std::mt19937 random(GetParam());
    std::set<int> expected;
    for (int step = 0; step < 2000; ++step) {
        const int key = static_cast<int>(random() % 200);
        SCOPED_TRACE("step " + std::to_string(step) + ", key " + std::to_string(key));
        if (random() % 5 < 3)
            ASSERT_EQ(avl_insert(tree_, item(key)) == 0, expected.insert(key).second);
        else
            ASSERT_EQ(avl_remove(tree_, item(key)) == 0, expected.erase(key) == 1);
        ASSERT_NO_FATAL_FAILURE(expect_tree_is(expected));

        // The search for another key finds it, or ends at one of the two items around where it would stand.
        int probe = static_cast<int>(random() % 200);
        avl_node *close = avl_search_close(tree_, &probe);
        const auto at = expected.lower_bound(probe);
        const bool present = at != expected.end() && *at == probe;
        ASSERT_EQ(avl_search(tree_, &probe), present ? close : nullptr);
        const int got = close != nullptr ? item_of(close) : -1;
        const bool next_to = (at != expected.end() && got == *at) || (at != expected.begin() && got == *std::prev(at));
        ASSERT_TRUE(expected.empty() ? close == nullptr : present ? got == probe : next_to) << probe << " at " << got;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, AvlRandom, ::testing::Values(1u, 2u, 7u, 42u, 20240601u));

// A node the caller holds keeps its item while others are removed, even when it takes the place of a removed
// node with two children; so a walk that takes the successor before removing the current item removes all,
// each exactly once.
TEST_F(Avl, NodesKeepTheirItemsAcrossRemovals) {
    for (int i = 1; i <= 31; ++i)
        ASSERT_EQ(avl_insert(tree_, item(i)), 0);
    int key = 17;
    avl_node *held = avl_search(tree_, &key);
    // 1..31 inserted in order make a full tree with 16 at the root, so 17 takes the root's place; the other
    // even items include inner nodes with two children.
    for (int i : {16, 2, 4, 6, 8, 10, 12, 14, 18, 20, 22, 24, 26, 28, 30})
        ASSERT_EQ(avl_remove(tree_, item(i)), 0) << i;
    ASSERT_EQ(avl_search(tree_, &key), held);
    EXPECT_EQ(item_of(held), 17);
    for (avl_node *node = avl_first(tree_), *next; node != nullptr; node = next) {
        next = avl_getnext(tree_, node);
        ASSERT_EQ(avl_remove(tree_, AVL_NODE_INFO(node)), 0) << item_of(node);
    }
    EXPECT_EQ(avl_first(tree_), nullptr);
}

}  // namespace
