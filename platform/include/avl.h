/*
 * Balanced-tree library.
 *
 * A tree orders caller-owned items by a comparison function; each item sits in a node of the library,
 * reached through AVL_NODE_INFO. The tree never copies or frees items.
 */
#ifndef PLATFORM_AVL_H
#define PLATFORM_AVL_H

#include "platform_types.h"

struct avl_tree;

struct avl_node {
    struct avl_node *left;
    struct avl_node *right;
    struct avl_node *parent;
    int height;
    void *info;
};

#define AVL_NODE_INFO(node) ((node)->info)

/* Returns <0, 0 or >0 for a before, equal to or after b. */
typedef int (*avl_cmp_fn)(void *a, void *b);

PLATFORM_BEGIN_DECLS

/* Writes the handle of a new empty tree into *tree; `flags` is reserved (0). 0 on success, -1 otherwise. */
int avl_create(struct avl_tree **tree, int flags, avl_cmp_fn cmp);
/* The node whose item compares equal to key, or NULL. */
struct avl_node *avl_search(struct avl_tree *tree, void *key);
/* The node at which the search for key ends: the equal item or, failing that, an item next to where key
 * would stand (its nearest below or above); NULL for an empty tree. */
struct avl_node *avl_search_close(struct avl_tree *tree, void *key);
/* Inserts item; 0 on success, -1 when an equal item is present or memory runs out. */
int avl_insert(struct avl_tree *tree, void *item);
/* Removes the node holding item; 0 on success, negative when it is not there (the tree is unchanged). */
int avl_remove(struct avl_tree *tree, void *item);
struct avl_node *avl_first(struct avl_tree *tree);
/* The node of the next greater item, or NULL. */
struct avl_node *avl_getnext(struct avl_tree *tree, struct avl_node *node);
int avl_get_tree_size(struct avl_tree *tree);

PLATFORM_END_DECLS

#endif
