// AVL rebalancing and walks over parent words.
#include "support/avl.h"

namespace {

// Puts child in place of old under parent (or as the root).
void replace_child(AvlNode **root, AvlNode *parent, AvlNode *old, AvlNode *child)
{
    if (!parent)
        *root = child;
    else if (parent->left == old)
        parent->left = child;
    else
        parent->right = child;
}

// Single rotation: n (a child of p) takes p's place; p becomes n's child on
// the other side and takes n's inner subtree. Returns n.
AvlNode *rotate_single(AvlNode **root, AvlNode *p, AvlNode *n)
{
    AvlNode *gp = avl_parent(p);
    if (p->left == n) {
        p->left = n->right;
        if (n->right)
            avl_set_parent(n->right, p);
        n->right = p;
    } else {
        p->right = n->left;
        if (n->left)
            avl_set_parent(n->left, p);
        n->left = p;
    }
    avl_set_parent(p, n);
    avl_set_parent(n, gp);
    replace_child(root, gp, p, n);
    return n;
}

// Double rotation through n's inner child c: c takes p's place with n and p
// as its children. Codes are set as the AVL rules leave them. Returns c.
AvlNode *rotate_double(AvlNode **root, AvlNode *p, AvlNode *n)
{
    bool n_left = p->left == n;
    AvlNode *c = n_left ? n->right : n->left;
    int cb = avl_balance(c);
    AvlNode *gp = avl_parent(p);
    if (n_left) {
        n->right = c->left;
        if (c->left)
            avl_set_parent(c->left, n);
        p->left = c->right;
        if (c->right)
            avl_set_parent(c->right, p);
        c->left = n;
        c->right = p;
        avl_set_balance(n, cb == AVL_RIGHT_HIGH ? AVL_LEFT_HIGH : AVL_EVEN);
        avl_set_balance(p, cb == AVL_LEFT_HIGH ? AVL_RIGHT_HIGH : AVL_EVEN);
    } else {
        n->left = c->right;
        if (c->right)
            avl_set_parent(c->right, n);
        p->right = c->left;
        if (c->left)
            avl_set_parent(c->left, p);
        c->right = n;
        c->left = p;
        avl_set_balance(n, cb == AVL_LEFT_HIGH ? AVL_RIGHT_HIGH : AVL_EVEN);
        avl_set_balance(p, cb == AVL_RIGHT_HIGH ? AVL_LEFT_HIGH : AVL_EVEN);
    }
    avl_set_parent(n, c);
    avl_set_parent(p, c);
    avl_set_parent(c, gp);
    avl_set_balance(c, AVL_EVEN);
    replace_child(root, gp, p, c);
    return c;
}

} // namespace

void avl_insert_fixup(AvlNode **root, AvlNode *node)
{
    node->left = node->right = nullptr;
    AvlNode *n = node;
    AvlNode *p = avl_parent(n);
    while (p) {
        bool left = p->left == n;
        int b = avl_balance(p);
        if (b == AVL_EVEN) {
            avl_set_balance(p, left ? AVL_LEFT_HIGH : AVL_RIGHT_HIGH);
            n = p;
            p = avl_parent(n);
            continue;
        }
        if ((b == AVL_LEFT_HIGH) != left) {
            avl_set_balance(p, AVL_EVEN);
            return;
        }
        // p was already higher on n's side: one rotation settles it.
        if (avl_balance(n) == (left ? AVL_LEFT_HIGH : AVL_RIGHT_HIGH)) {
            rotate_single(root, p, n);
            avl_set_balance(p, AVL_EVEN);
            avl_set_balance(n, AVL_EVEN);
        } else {
            rotate_double(root, p, n);
        }
        return;
    }
}

void avl_remove(AvlNode **root, AvlNode *x)
{
    AvlNode *parent;   // where rebalancing starts
    bool left_shrank;  // which side of it shrank
    if (x->left && x->right) {
        AvlNode *s = x->right;
        while (s->left)
            s = s->left;
        if (s != x->right) {
            parent = avl_parent(s);
            left_shrank = true;
            parent->left = s->right;
            if (s->right)
                avl_set_parent(s->right, parent);
            s->right = x->right;
            avl_set_parent(x->right, s);
        } else {
            parent = s;
            left_shrank = false;
        }
        s->left = x->left;
        avl_set_parent(x->left, s);
        AvlNode *xp = avl_parent(x);
        s->parent_balance = x->parent_balance; // x's parent and code
        replace_child(root, xp, x, s);
    } else {
        AvlNode *child = x->left ? x->left : x->right;
        parent = avl_parent(x);
        left_shrank = parent && parent->left == x;
        if (child)
            avl_set_parent(child, parent);
        replace_child(root, parent, x, child);
    }

    while (parent) {
        AvlNode *p = parent;
        int b = avl_balance(p);
        int shrunk_high = left_shrank ? AVL_LEFT_HIGH : AVL_RIGHT_HIGH;
        AvlNode *top; // root of p's subtree after this step
        if (b == shrunk_high) {
            avl_set_balance(p, AVL_EVEN);
            top = p;
        } else if (b == AVL_EVEN) {
            avl_set_balance(p, left_shrank ? AVL_RIGHT_HIGH : AVL_LEFT_HIGH);
            return;
        } else {
            AvlNode *s = left_shrank ? p->right : p->left;
            int sb = avl_balance(s);
            if (sb == AVL_EVEN) {
                rotate_single(root, p, s);
                avl_set_balance(s, left_shrank ? AVL_LEFT_HIGH : AVL_RIGHT_HIGH);
                return; // p keeps leaning away from the shrunk side
            }
            if (sb == b) {
                rotate_single(root, p, s);
                avl_set_balance(p, AVL_EVEN);
                avl_set_balance(s, AVL_EVEN);
                top = s;
            } else {
                top = rotate_double(root, p, s);
            }
        }
        parent = avl_parent(top);
        if (parent)
            left_shrank = parent->left == top;
    }
}

AvlNode *avl_first(AvlNode *n)
{
    if (!n)
        return nullptr;
    while (n->left)
        n = n->left;
    return n;
}

AvlNode *avl_last(AvlNode *n)
{
    if (!n)
        return nullptr;
    while (n->right)
        n = n->right;
    return n;
}

AvlNode *avl_next(AvlNode *n)
{
    if (n->right)
        return avl_first(n->right);
    AvlNode *p = avl_parent(n);
    while (p && p->right == n) {
        n = p;
        p = avl_parent(n);
    }
    return p;
}

AvlNode *avl_prev(AvlNode *n)
{
    if (n->left)
        return avl_last(n->left);
    AvlNode *p = avl_parent(n);
    while (p && p->left == n) {
        n = p;
        p = avl_parent(n);
    }
    return p;
}

AvlNode *avl_first_postorder(AvlNode *n)
{
    if (!n)
        return nullptr;
    for (;;) {
        if (n->left)
            n = n->left;
        else if (n->right)
            n = n->right;
        else
            return n;
    }
}

AvlNode *avl_next_postorder(AvlNode *node, AvlNode *parent)
{
    if (!parent)
        return nullptr;
    if (parent->left == node && parent->right)
        return avl_first_postorder(parent->right);
    return parent;
}
