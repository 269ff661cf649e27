// An intrusive AVL tree: the node lives inside the caller's record, the
// caller searches with its own comparison and links a new leaf itself; the
// tree rebalances after insertion and removal and offers in-order and
// post-order walks. Nothing is allocated and nothing recurses.
#pragma once

#include <cstdint>

// parent_balance holds the parent's address with the balance code in its
// two low bits: 0 the left subtree is higher, 1 even, 2 the right is higher.
struct AvlNode {
    AvlNode *left;
    AvlNode *right;
    uintptr_t parent_balance;
};
static_assert(alignof(AvlNode) >= 4, "the two low bits of a node's address must be free");

enum { AVL_LEFT_HIGH = 0, AVL_EVEN = 1, AVL_RIGHT_HIGH = 2 };

inline AvlNode *avl_parent(const AvlNode *n) { return reinterpret_cast<AvlNode *>(n->parent_balance & ~uintptr_t(3)); }
inline int avl_balance(const AvlNode *n) { return static_cast<int>(n->parent_balance & 3); }
inline void avl_set_parent(AvlNode *n, AvlNode *p)
{
    n->parent_balance = reinterpret_cast<uintptr_t>(p) | (n->parent_balance & 3);
}
inline void avl_set_balance(AvlNode *n, int b) { n->parent_balance = (n->parent_balance & ~uintptr_t(3)) | uintptr_t(b); }

// Links node as a child of parent (NULL: as the root) in the slot *link and
// prepares its word; then call avl_insert_fixup.
inline void avl_link(AvlNode *node, AvlNode *parent, AvlNode **link)
{
    node->parent_balance = reinterpret_cast<uintptr_t>(parent) | AVL_EVEN;
    node->left = node->right = nullptr;
    *link = node;
}

void avl_insert_fixup(AvlNode **root, AvlNode *node);
void avl_remove(AvlNode **root, AvlNode *node);
AvlNode *avl_first(AvlNode *root);
AvlNode *avl_last(AvlNode *root);
AvlNode *avl_next(AvlNode *node);
AvlNode *avl_prev(AvlNode *node);
AvlNode *avl_first_postorder(AvlNode *root);
// The next node in post-order after node, whose parent the caller read
// before it may have freed node.
AvlNode *avl_next_postorder(AvlNode *node, AvlNode *parent);
