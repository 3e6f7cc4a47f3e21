#include "avl/sim_avl.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "avl.h"

namespace sim::avl {
namespace {

std::atomic<int> removals_to_fail{0};

// Uses up one of the failures asked for by fail_next_removals; true when there was one.
bool take_removal_failure() {
    int left = removals_to_fail.load();
    while (left > 0)
        if (removals_to_fail.compare_exchange_weak(left, left - 1))
            return true;
    return false;
}

int height(const avl_node *node) {
    return node != nullptr ? node->height : 0;
}

void update_height(avl_node *node) {
    node->height = 1 + std::max(height(node->left), height(node->right));
}

int balance(const avl_node *node) {
    return height(node->left) - height(node->right);
}

avl_node *leftmost(avl_node *node) {
    while (node->left != nullptr)
        node = node->left;
    return node;
}

}  // namespace

// An AVL tree of caller-owned items in the order of its comparison function. A leaf has height 1; the
// heights of the two subtrees of every node differ by at most one.
class Tree {
public:
    explicit Tree(avl_cmp_fn cmp) : cmp_(cmp) {}
    ~Tree() { destroy(root_); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;

    avl_node *find(void *key) const {
        avl_node *node = find_close(key);
        return node != nullptr && cmp_(key, node->info) == 0 ? node : nullptr;
    }

    // The last node of the descent for key: the equal item, or the item under which key would be attached.
    avl_node *find_close(void *key) const {
        avl_node *node = root_;
        while (node != nullptr) {
            const int order = cmp_(key, node->info);
            avl_node *child = order < 0 ? node->left : node->right;
            if (order == 0 || child == nullptr)
                return node;
            node = child;
        }
        return nullptr;
    }

    // Adds item; false when an equal item is present or no node can be had.
    bool insert(void *item) {
        avl_node *parent = nullptr;
        avl_node **link = &root_;
        while (*link != nullptr) {
            parent = *link;
            const int order = cmp_(item, parent->info);
            if (order == 0)
                return false;
            link = order < 0 ? &parent->left : &parent->right;
        }
        auto *node = new (std::nothrow) avl_node{nullptr, nullptr, parent, 1, item};
        if (node == nullptr)
            return false;
        *link = node;
        ++size_;
        rebalance_from(parent);
        return true;
    }

    // Takes out the node of the item equal to item; false when there is none. The node that replaces a
    // removed node with two children is its successor node itself, moved, so no other node changes item.
    bool remove(void *item) {
        avl_node *node = find(item);
        if (node == nullptr)
            return false;
        avl_node *rebalance_start = nullptr;
        if (node->left == nullptr || node->right == nullptr) {
            avl_node *child = node->left != nullptr ? node->left : node->right;
            if (child != nullptr)
                child->parent = node->parent;
            replace_child(node->parent, node, child);
            rebalance_start = node->parent;
        } else {
            avl_node *successor = leftmost(node->right);
            if (successor->parent != node) {
                rebalance_start = successor->parent;
                rebalance_start->left = successor->right;
                if (successor->right != nullptr)
                    successor->right->parent = rebalance_start;
                successor->right = node->right;
                node->right->parent = successor;
            } else {
                rebalance_start = successor;
            }
            successor->left = node->left;
            node->left->parent = successor;
            successor->parent = node->parent;
            replace_child(node->parent, node, successor);
        }
        delete node;
        --size_;
        rebalance_from(rebalance_start);
        return true;
    }

    avl_node *first() const { return root_ != nullptr ? leftmost(root_) : nullptr; }

    static avl_node *next(avl_node *node) {
        if (node->right != nullptr)
            return leftmost(node->right);
        while (node->parent != nullptr && node == node->parent->right)
            node = node->parent;
        return node->parent;
    }

    int size() const { return size_; }

private:
    static void destroy(avl_node *node) {
        if (node == nullptr)
            return;
        destroy(node->left);
        destroy(node->right);
        delete node;
    }

    void replace_child(avl_node *parent, avl_node *old_child, avl_node *new_child) {
        if (parent == nullptr)
            root_ = new_child;
        else if (parent->left == old_child)
            parent->left = new_child;
        else
            parent->right = new_child;
    }

    // Lifts the right child of top into its place; returns the new top of the subtree.
    avl_node *rotate_left(avl_node *top) {
        avl_node *lifted = top->right;
        top->right = lifted->left;
        if (lifted->left != nullptr)
            lifted->left->parent = top;
        lifted->parent = top->parent;
        replace_child(top->parent, top, lifted);
        lifted->left = top;
        top->parent = lifted;
        update_height(top);
        update_height(lifted);
        return lifted;
    }

    avl_node *rotate_right(avl_node *top) {
        avl_node *lifted = top->left;
        top->left = lifted->right;
        if (lifted->right != nullptr)
            lifted->right->parent = top;
        lifted->parent = top->parent;
        replace_child(top->parent, top, lifted);
        lifted->right = top;
        top->parent = lifted;
        update_height(top);
        update_height(lifted);
        return lifted;
    }

    // Walks from node up to the root, recomputing heights and rotating wherever the subtrees of a node differ
    // in height by two.
    void rebalance_from(avl_node *node) {
        while (node != nullptr) {
            update_height(node);
            const int b = balance(node);
            if (b > 1) {
                if (balance(node->left) < 0)
                    rotate_left(node->left);
                node = rotate_right(node);
            } else if (b < -1) {
                if (balance(node->right) > 0)
                    rotate_right(node->right);
                node = rotate_left(node);
            }
            node = node->parent;
        }
    }

    avl_cmp_fn cmp_;
    avl_node *root_ = nullptr;
    int size_ = 0;
};

void fail_next_removals(int n) {
    removals_to_fail.store(n > 0 ? n : 0);
}

}  // namespace sim::avl

// The handle of avl.h is the tree itself.
struct avl_tree : sim::avl::Tree {
    using Tree::Tree;
};

void sim::avl::destroy_tree(avl_tree *tree) {
    delete tree;
}

int avl_create(avl_tree **tree, int /*flags*/, avl_cmp_fn cmp) {
    if (tree == nullptr || cmp == nullptr)
        return -1;
    *tree = new (std::nothrow) avl_tree(cmp);
    return *tree != nullptr ? 0 : -1;
}

avl_node *avl_search(avl_tree *tree, void *key) {
    return tree != nullptr ? tree->find(key) : nullptr;
}

avl_node *avl_search_close(avl_tree *tree, void *key) {
    return tree != nullptr ? tree->find_close(key) : nullptr;
}

int avl_insert(avl_tree *tree, void *item) {
    return tree != nullptr && tree->insert(item) ? 0 : -1;
}

int avl_remove(avl_tree *tree, void *item) {
    if (tree == nullptr || sim::avl::take_removal_failure())
        return -1;
    return tree->remove(item) ? 0 : -1;
}

avl_node *avl_first(avl_tree *tree) {
    return tree != nullptr ? tree->first() : nullptr;
}

avl_node *avl_getnext(avl_tree * /*tree*/, avl_node *node) {
    return node != nullptr ? sim::avl::Tree::next(node) : nullptr;
}

int avl_get_tree_size(avl_tree *tree) {
    return tree != nullptr ? tree->size() : 0;
}
