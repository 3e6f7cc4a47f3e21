// The balanced tree, checked against std::set after every step of random insert/remove sequences.
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
    const int x = *static_cast<int *>(a), y = *static_cast<int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int item_of(const avl_node *node) {
    return *static_cast<int *>(AVL_NODE_INFO(node));
}

// Heights, balance and parent links below node; adds what is wrong to error and returns the subtree's height.
int check_subtree(const avl_node *node, const avl_node *parent, std::string &error) {
    if (node == nullptr)
        return 0;
    const std::string at = std::to_string(item_of(node)) + "; ";
    if (node->parent != parent)
        error += "bad parent at " + at;
    const int left = check_subtree(node->left, node, error), right = check_subtree(node->right, node, error);
    if (std::abs(left - right) > 1)
        error += "unbalanced at " + at;
    if (node->height != 1 + std::max(left, right))
        error += "stale height at " + at;
    return 1 + std::max(left, right);
}

// A tree made by avl_create and freed after the test, and the items 0..255 to put in it.
class Avl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(avl_create(&tree_, 0, compare_ints), 0); }
    void TearDown() override {
        sim::avl::fail_next_removals(0);
        sim::avl::destroy_tree(tree_);
    }
    void *item(int i) { return &items_[static_cast<std::size_t>(i)]; }

    // The tree holds exactly `expected`, in order through avl_first/avl_getnext, and every node is sound.
    void expect_tree_is(const std::set<int> &expected) {
        ASSERT_EQ(avl_get_tree_size(tree_), static_cast<int>(expected.size()));
        std::vector<int> walked;
        for (avl_node *node = avl_first(tree_); node != nullptr; node = avl_getnext(tree_, node))
            walked.push_back(item_of(node));
        ASSERT_EQ(walked, std::vector<int>(expected.begin(), expected.end()));
        const avl_node *root = avl_first(tree_);
        while (root != nullptr && root->parent != nullptr)
            root = root->parent;
        std::string error;
        check_subtree(root, nullptr, error);
        ASSERT_EQ(error, "");
    }

    avl_tree *tree_ = nullptr;
    std::vector<int> items_ = [] {
        std::vector<int> items(256);
        for (int i = 0; i < 256; ++i)
            items[static_cast<std::size_t>(i)] = i;
        return items;
    }();
};

class AvlRandom : public Avl, public ::testing::WithParamInterface<unsigned> {};

TEST_P(AvlRandom, MatchesASetAfterEveryStep) {
    std::mt19937 random(GetParam());
    std::uniform_int_distribution<int> key_of(0, 199);
    std::set<int> expected;
    for (int step = 0; step < 2000; ++step) {
        const int key = key_of(random);
        SCOPED_TRACE("step " + std::to_string(step) + ", key " + std::to_string(key));
        if (random() % 5 < 3) {
            const bool added = expected.insert(key).second;
            ASSERT_EQ(avl_insert(tree_, item(key)), added ? 0 : -1);
        } else {
            const bool removed = expected.erase(key) == 1;
            ASSERT_EQ(avl_remove(tree_, item(key)) == 0, removed);
        }
        ASSERT_NO_FATAL_FAILURE(expect_tree_is(expected));

        // The search for another key ends at it or at one of the two items around where it would stand.
        int probe = key_of(random);
        avl_node *found = avl_search(tree_, &probe), *close = avl_search_close(tree_, &probe);
        ASSERT_EQ(found != nullptr, expected.count(probe) == 1);
        if (expected.empty()) {
            ASSERT_EQ(close, nullptr);
        } else if (found != nullptr) {
            ASSERT_EQ(item_of(found), probe);
            ASSERT_EQ(close, found);
        } else {
            ASSERT_NE(close, nullptr);
            auto above = expected.upper_bound(probe);
            const bool is_above = above != expected.end() && item_of(close) == *above;
            const bool is_below = above != expected.begin() && item_of(close) == *std::prev(above);
            ASSERT_TRUE(is_above || is_below) << "probe " << probe << " ended at " << item_of(close);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, AvlRandom, ::testing::Values(1u, 2u, 7u, 42u, 20240601u));

// A node the caller holds keeps its item while others are removed, even when it takes the place of a removed
// node with two children; so a walk that takes the successor before removing the current item removes all.
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

    std::vector<int> visited;
    for (avl_node *node = avl_first(tree_), *next; node != nullptr; node = next) {
        next = avl_getnext(tree_, node);
        visited.push_back(item_of(node));
        ASSERT_EQ(avl_remove(tree_, AVL_NODE_INFO(node)), 0);
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31}));
    EXPECT_EQ(avl_first(tree_), nullptr);
}

TEST_F(Avl, InjectedRemovalFailuresChangeNothing) {
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(avl_insert(tree_, item(i)), 0);
    sim::avl::fail_next_removals(2);
    EXPECT_EQ(avl_remove(tree_, item(3)), -1);
    EXPECT_EQ(avl_remove(tree_, item(4)), -1);
    EXPECT_NO_FATAL_FAILURE(expect_tree_is({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(avl_remove(tree_, item(3)), 0);
    EXPECT_NO_FATAL_FAILURE(expect_tree_is({0, 1, 2, 4, 5, 6, 7, 8, 9}));
}

}  // namespace
