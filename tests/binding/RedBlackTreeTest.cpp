#include "binding/detail/RedBlackTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

struct Node {
    Node* left;
    Node* right;
    std::uintptr_t parentAndRed;
    int key;
};
using Tree = Tavo::detail::RedBlackTree<Node>;

// The black height of `node`'s subtree, or -1 when a red-black rule, a
// parent link or the key order is broken.
int BlackHeight(const Node* node, const Node* parent, const int* low, const int* high) {
    if (node == nullptr) {
        return 1;
    }
    if (Tree::Parent(node) != parent || (low != nullptr && node->key <= *low) ||
        (high != nullptr && node->key >= *high)) {
        return -1;
    }
    if (Tree::IsRed(node) && (Tree::IsRed(node->left) || Tree::IsRed(node->right))) {
        return -1;
    }
    const int left = BlackHeight(node->left, node, low, &node->key);
    const int right = BlackHeight(node->right, node, &node->key, high);
    if (left < 0 || left != right) {
        return -1;
    }
    return left + (Tree::IsRed(node) ? 0 : 1);
}

bool IsValid(const Node* root) {
    return !Tree::IsRed(root) && BlackHeight(root, nullptr, nullptr, nullptr) > 0;
}

std::vector<int> InOrder(const Node* root) {
    std::vector<int> keys;
    for (const Node* node = Tree::First(root); node != nullptr; node = Tree::Next(node)) {
        keys.push_back(node->key);
    }
    return keys;
}

void Insert(Node*& root, Node* node) {
    auto probe = Tree::Search(root, [&](const Node* other) {
        return node->key < other->key ? -1 : node->key > other->key ? 1 : 0;
    });
    ASSERT_EQ(probe.found, nullptr);
    Tree::Link(root, node, probe.parent, probe.left);
}

std::vector<int> Keys(const char* order, int count) {
    std::vector<int> keys(static_cast<std::size_t>(count));
    std::iota(keys.begin(), keys.end(), 0);
    const std::string name = order;
    if (name == "descending") {
        std::reverse(keys.begin(), keys.end());
    } else if (name == "zigzag") {  // 0, n-1, 1, n-2, ...
        std::vector<int> zigzag;
        for (int low = 0, high = count - 1; low <= high; ++low, --high) {
            zigzag.push_back(low);
            if (low != high) {
                zigzag.push_back(high);
            }
        }
        keys = zigzag;
    } else if (name == "shuffled") {
        std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    }
    return keys;
}

TEST(RedBlackTree, InsertsInAnyOrderKeepTheRulesAndIterateSorted) {
    for (const char* order : {"ascending", "descending", "zigzag", "shuffled"}) {
        for (int count : {0, 1, 2, 3, 7, 100, 1000}) {
            SCOPED_TRACE(std::string(order) + " " + std::to_string(count));
            std::vector<Node> nodes(static_cast<std::size_t>(count));
            Node* root = nullptr;
            const std::vector<int> keys = Keys(order, count);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                nodes[i].key = keys[i];
                Insert(root, &nodes[i]);
            }
            EXPECT_TRUE(root == nullptr || IsValid(root));
            std::vector<int> sorted(keys);
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(InOrder(root), sorted);
            for (int key : {0, count / 2, count - 1}) {
                auto probe = Tree::Search(root, [&](const Node* node) { return key - node->key; });
                EXPECT_EQ(probe.found != nullptr, count > 0);
            }
            EXPECT_EQ(Tree::Search(root, [](const Node* node) { return -1 - node->key; }).found,
                      nullptr);
        }
    }
}

// A bulk build hands over a sorted run.
TEST(RedBlackTree, BuildsFromSortedNodesAreValid) {
    for (int count = 0; count <= 130; ++count) {
        SCOPED_TRACE(count);
        std::vector<Node> built(static_cast<std::size_t>(count));
        std::vector<Node*> run;
        for (int i = 0; i < count; ++i) {
            built[static_cast<std::size_t>(i)].key = i;
            run.push_back(&built[static_cast<std::size_t>(i)]);
        }
        Node* builtRoot = Tree::Build(run.data(), run.size());
        std::vector<int> expected(static_cast<std::size_t>(count));
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_TRUE(builtRoot == nullptr || IsValid(builtRoot));
        EXPECT_EQ(InOrder(builtRoot), expected);
        // A built tree takes further inserts like any other.
        Node extra{nullptr, nullptr, 0, count + 5};
        Insert(builtRoot, &extra);
        EXPECT_TRUE(IsValid(builtRoot));
    }
}

// Copies hang fields as a chain while they come and balance it at the end:
// the chain is a search tree at every step (a copy cut short leaves one), and
// the balanced result is the tree Build makes, open to further inserts.
TEST(RedBlackTree, ChainsSearchAsTheyGrowAndBalanceLikeBuild) {
    for (int count = 0; count <= 130; ++count) {
        SCOPED_TRACE(count);
        std::vector<Node> chained(static_cast<std::size_t>(count));
        std::vector<Node> built(static_cast<std::size_t>(count));
        std::vector<Node*> run;
        Node* root = nullptr;
        Node* tail = nullptr;
        for (int i = 0; i < count; ++i) {
            Node& node = chained[static_cast<std::size_t>(i)];
            node.key = i;
            Tree::AppendToChain(root, tail, &node);
            tail = &node;
            built[static_cast<std::size_t>(i)].key = i;
            run.push_back(&built[static_cast<std::size_t>(i)]);
        }
        const std::vector<int> expected = Keys("ascending", count);
        EXPECT_EQ(InOrder(root), expected);
        for (int key = 0; key < count; key += 7) {
            EXPECT_EQ(Tree::Search(root, [&](const Node* node) { return key - node->key; }).found,
                      &chained[static_cast<std::size_t>(key)]);
        }
        Tree::BalanceChain(root, static_cast<std::size_t>(count));
        Node* builtRoot = Tree::Build(run.data(), run.size());
        EXPECT_TRUE(root == nullptr || IsValid(root));
        EXPECT_EQ(InOrder(root), expected);
        // Same shape and colours as Build's: compare node by node in order.
        std::size_t mismatched = 0;
        for (std::size_t i = 0; i < run.size(); ++i) {
            const Node& a = chained[i];
            const Node& b = built[i];
            auto keyOf = [](const Node* node) { return node == nullptr ? -1 : node->key; };
            mismatched += keyOf(a.left) != keyOf(b.left) || keyOf(a.right) != keyOf(b.right) ||
                          keyOf(Tree::Parent(&a)) != keyOf(Tree::Parent(&b)) ||
                          Tree::IsRed(&a) != Tree::IsRed(&b);
        }
        EXPECT_EQ(mismatched, 0u);
        EXPECT_EQ(root == nullptr ? -1 : root->key, builtRoot == nullptr ? -1 : builtRoot->key);
        Node extra{nullptr, nullptr, 0, count + 5};
        Insert(root, &extra);
        EXPECT_TRUE(IsValid(root));
    }
}

TEST(RedBlackTree, DetachHandsOutEveryNodeOnce) {
    for (int count : {0, 1, 5, 500}) {
        std::vector<Node> nodes(static_cast<std::size_t>(count));
        Node* root = nullptr;
        const std::vector<int> keys = Keys("shuffled", count);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            nodes[i].key = keys[i];
            Insert(root, &nodes[i]);
        }
        std::vector<int> detached;
        while (Node* node = Tree::Detach(root)) {
            detached.push_back(node->key);
        }
        EXPECT_EQ(detached, Keys("ascending", count));  // leftmost first
    }
}

}  // namespace
