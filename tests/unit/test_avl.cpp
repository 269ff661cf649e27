// Tests of the intrusive AVL tree: fixed shapes, and a randomized run of
// insertions and removals checked against std::set after every step.
#include "support/avl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

struct Item {
    int key;
    AvlNode node;
};

Item *item_of(AvlNode *n) { return reinterpret_cast<Item *>(reinterpret_cast<char *>(n) - offsetof(Item, node)); }
int key_of(AvlNode *n) { return item_of(n)->key; }

// The caller's insertion: descend by key, link the leaf, rebalance.
// Returns false when the key is already present.
bool insert(AvlNode **root, Item *item)
{
    AvlNode *parent = nullptr;
    AvlNode **slot = root;
    while (*slot) {
        parent = *slot;
        int k = key_of(parent);
        if (item->key == k)
            return false;
        slot = item->key < k ? &parent->left : &parent->right;
    }
    avl_link(&item->node, parent, slot);
    avl_insert_fixup(root, &item->node);
    return true;
}

AvlNode *find(AvlNode *root, int key)
{
    while (root && key_of(root) != key)
        root = key < key_of(root) ? root->left : root->right;
    return root;
}

// Checks parent words, balance codes against real heights and the AVL bound;
// returns the subtree's height.
int check_subtree(AvlNode *n, AvlNode *parent, int *errors)
{
    if (!n)
        return 0;
    if (avl_parent(n) != parent)
        ++*errors, ADD_FAILURE() << "parent of " << key_of(n);
    int hl = check_subtree(n->left, n, errors);
    int hr = check_subtree(n->right, n, errors);
    int want = hl > hr ? AVL_LEFT_HIGH : hl < hr ? AVL_RIGHT_HIGH : AVL_EVEN;
    if (std::abs(hl - hr) > 1)
        ++*errors, ADD_FAILURE() << "heights " << hl << "/" << hr << " at " << key_of(n);
    else if (avl_balance(n) != want)
        ++*errors, ADD_FAILURE() << "code " << avl_balance(n) << " at " << key_of(n) << ", want " << want;
    return 1 + std::max(hl, hr);
}

// The whole tree agrees with the model: shape rules and both walk directions.
void expect_tree_matches(AvlNode *root, const std::set<int> &model)
{
    int errors = 0;
    check_subtree(root, nullptr, &errors);
    ASSERT_EQ(errors, 0);
    if (root) {
        ASSERT_LE(root->parent_balance, 3u);
    }
    std::vector<int> forward, backward;
    for (AvlNode *n = avl_first(root); n; n = avl_next(n))
        forward.push_back(key_of(n));
    for (AvlNode *n = avl_last(root); n; n = avl_prev(n))
        backward.push_back(key_of(n));
    ASSERT_EQ(forward, std::vector<int>(model.begin(), model.end()));
    ASSERT_EQ(backward, std::vector<int>(model.rbegin(), model.rend()));
}

struct AvlTest : ::testing::Test {
    AvlNode *root = nullptr;
    std::map<int, std::unique_ptr<Item>> items;

    Item *add(int key)
    {
        auto &slot = items[key];
        if (!slot)
            slot.reset(new Item{key, {}});
        EXPECT_TRUE(insert(&root, slot.get()));
        return slot.get();
    }
    void add_all(std::initializer_list<int> keys)
    {
        for (int k : keys)
            add(k);
    }
    void remove(int key)
    {
        AvlNode *n = find(root, key);
        ASSERT_TRUE(n);
        avl_remove(&root, n);
        items.erase(key);
    }
};

TEST_F(AvlTest, AscendingOneToSevenIsPerfect)
{
    add_all({1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(root);
    EXPECT_EQ(key_of(root), 4);
    EXPECT_EQ(key_of(root->left), 2);
    EXPECT_EQ(key_of(root->right), 6);
    EXPECT_EQ(key_of(root->left->left), 1);
    EXPECT_EQ(key_of(root->left->right), 3);
    EXPECT_EQ(key_of(root->right->left), 5);
    EXPECT_EQ(key_of(root->right->right), 7);
    for (AvlNode *n = avl_first(root); n; n = avl_next(n))
        EXPECT_EQ(avl_balance(n), AVL_EVEN) << key_of(n);
    expect_tree_matches(root, {1, 2, 3, 4, 5, 6, 7});
}

TEST_F(AvlTest, DoubleRotations)
{
    struct Case {
        std::initializer_list<int> keys;
        int root, left, right;
    };
    const Case cases[] = {
        {{3, 1, 2}, 2, 1, 3}, // left child leaning right
        {{1, 3, 2}, 2, 1, 3}, // right child leaning left
        {{3, 2, 1}, 2, 1, 3}, // single rotations for comparison
        {{1, 2, 3}, 2, 1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(*c.keys.begin());
        root = nullptr;
        items.clear();
        add_all(c.keys);
        ASSERT_TRUE(root && root->left && root->right);
        EXPECT_EQ(key_of(root), c.root);
        EXPECT_EQ(key_of(root->left), c.left);
        EXPECT_EQ(key_of(root->right), c.right);
        EXPECT_EQ(root->parent_balance, uintptr_t(AVL_EVEN));
        expect_tree_matches(root, {1, 2, 3});
    }
}

TEST_F(AvlTest, RemoveRootOfTwoLevelTree)
{
    add_all({2, 1, 3});
    remove(2);
    // The successor takes the root's place; having lost its right side in
    // the move it ends up leaning left, not with the root's former code.
    ASSERT_TRUE(root);
    EXPECT_EQ(key_of(root), 3);
    EXPECT_EQ(key_of(root->left), 1);
    EXPECT_EQ(root->right, nullptr);
    EXPECT_EQ(avl_balance(root), AVL_LEFT_HIGH);
    expect_tree_matches(root, {1, 3});
}

TEST_F(AvlTest, RemoveCases)
{
    struct Case {
        const char *what;
        std::vector<int> build;
        int remove;
    };
    const Case cases[] = {
        {"leaf", {2, 1, 3}, 1},
        {"only node", {5}, 5},
        {"node with one child", {2, 1, 3, 4}, 3},
        {"successor deep in the right subtree", {4, 2, 6, 1, 3, 5, 7, 8}, 4},
        {"successor is the right child", {4, 2, 6, 1, 3, 7}, 4},
        {"removal that needs a single rotation", {2, 1, 3, 4}, 1},
        {"removal that needs a double rotation", {3, 1, 5, 4}, 1},
        {"rotation with an even sibling", {2, 1, 4, 3, 5}, 1},
        {"shrink that climbs to the root", {5, 3, 8, 2, 4, 7, 10, 1, 6, 9, 11, 12}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        root = nullptr;
        items.clear();
        std::set<int> model;
        for (int k : c.build) {
            add(k);
            model.insert(k);
        }
        expect_tree_matches(root, model);
        remove(c.remove);
        model.erase(c.remove);
        expect_tree_matches(root, model);
    }
}

TEST_F(AvlTest, RandomizedAgainstStdSet)
{
    std::mt19937 gen(20240611);
    std::set<int> model;
    for (int step = 0; step < 6000; step++) {
        // Keys in a small range so removals hit present keys often; the bias
        // shifts over the run so the tree grows, shrinks and grows again.
        int key = static_cast<int>(gen() % 400);
        bool grow = (step / 1500) % 2 == 0;
        bool do_insert = gen() % 100 < (grow ? 65u : 35u);
        if (do_insert && !model.count(key)) {
            add(key);
            model.insert(key);
        } else if (!do_insert && model.count(key)) {
            remove(key);
            model.erase(key);
        } else {
            continue;
        }
        SCOPED_TRACE(step);
        expect_tree_matches(root, model);
        if (HasFatalFailure())
            return;
    }
    // Empty it completely, from both ends and the middle.
    while (!model.empty()) {
        auto it = model.begin();
        std::advance(it, gen() % model.size());
        int key = *it;
        remove(key);
        model.erase(key);
        expect_tree_matches(root, model);
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(root, nullptr);
}

TEST_F(AvlTest, DuplicateKeyIsLeftToTheCaller)
{
    add(1);
    Item dup{1, {}};
    EXPECT_FALSE(insert(&root, &dup));
    expect_tree_matches(root, {1});
}

TEST(Avl, EmptyTree)
{
    EXPECT_EQ(avl_first(nullptr), nullptr);
    EXPECT_EQ(avl_last(nullptr), nullptr);
    EXPECT_EQ(avl_first_postorder(nullptr), nullptr);
    AvlNode lone{};
    lone.parent_balance = AVL_EVEN;
    EXPECT_EQ(avl_next(&lone), nullptr);
    EXPECT_EQ(avl_prev(&lone), nullptr);
    EXPECT_EQ(avl_next_postorder(&lone, nullptr), nullptr);
}

TEST(Avl, PostorderWalkFreesEveryNode)
{
    for (int n : {1, 2, 3, 10, 100, 1000}) {
        SCOPED_TRACE(n);
        std::mt19937 gen(static_cast<uint32_t>(n));
        std::vector<int> keys(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            keys[static_cast<size_t>(i)] = i;
        std::shuffle(keys.begin(), keys.end(), gen);
        AvlNode *root = nullptr;
        for (int k : keys)
            ASSERT_TRUE(insert(&root, new Item{k, {}}));
        AvlNode *const first_root = root;

        // Freed records are remembered by address only, never read again.
        std::set<const AvlNode *> visited;
        const AvlNode *last = nullptr;
        for (AvlNode *cur = avl_first_postorder(root); cur;) {
            ASSERT_FALSE(visited.count(cur));
            if (cur->left) {
                ASSERT_TRUE(visited.count(cur->left)) << "left child after parent";
            }
            if (cur->right) {
                ASSERT_TRUE(visited.count(cur->right)) << "right child after parent";
            }
            AvlNode *parent = avl_parent(cur);
            visited.insert(cur);
            last = cur;
            delete item_of(cur);
            cur = avl_next_postorder(cur, parent);
        }
        EXPECT_EQ(visited.size(), static_cast<size_t>(n));
        EXPECT_EQ(last, first_root);
    }
}

} // namespace
