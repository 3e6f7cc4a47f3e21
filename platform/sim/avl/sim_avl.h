// The simulated platform's balanced tree behind avl.h: a self-balancing AVL tree whose nodes are the
// struct avl_node of the header, linked by parent pointers. Nodes stay where they are while other items are
// inserted or removed, so a node the caller holds stays valid until its own item is removed.
#pragma once

struct avl_tree;

namespace sim::avl {

// Makes the next n calls of avl_remove return -1 and change nothing (n <= 0: none).
void fail_next_removals(int n);

// Frees a tree made by avl_create and its nodes; the items are the caller's and are left alone. avl.h has no
// call for this because the platform's trees live as long as the process; tests need it. NULL is ignored.
void destroy_tree(struct avl_tree *tree);

}  // namespace sim::avl
