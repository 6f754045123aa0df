#pragma once
// An intrusive red-black tree: the operations over nodes that carry their own
// links, so a structure's fields need no allocation besides their nodes.
//
// A Node has `Node* left`, `Node* right` and `std::uintptr_t parentAndRed`
// (the parent's address with the colour in its lowest bit, so nodes must be
// at least 2-aligned). The tree is its root pointer; the caller owns the
// nodes and decides the order through the probes it passes to Search.
// Nothing here allocates or throws.

#include <cstddef>
#include <cstdint>

namespace Tavo::detail {

template <class Node>
struct RedBlackTree {
    static Node* Parent(const Node* node) {
        return reinterpret_cast<Node*>(node->parentAndRed & ~std::uintptr_t{1});
    }
    static bool IsRed(const Node* node) { return node != nullptr && (node->parentAndRed & 1u); }

    // Where a key is, or where it would hang.
    struct Probe {
        Node* found;
        Node* parent;
        bool left;
    };
    // `order(node)` is negative when the key sorts before the node's, 0 when
    // equal, positive after.
    template <class Order>
    static Probe Search(Node* root, Order order) {
        Probe probe{nullptr, nullptr, false};
        for (Node* node = root; node != nullptr;) {
            const int sign = order(node);
            if (sign == 0) {
                probe.found = node;
                return probe;
            }
            probe.parent = node;
            probe.left = sign < 0;
            node = probe.left ? node->left : node->right;
        }
        return probe;
    }

    // Hangs `node` (its links are overwritten) where a Search found room,
    // then rebalances.
    static void Link(Node*& root, Node* node, Node* parent, bool left) {
        node->left = nullptr;
        node->right = nullptr;
        node->parentAndRed = reinterpret_cast<std::uintptr_t>(parent) | 1u;
        if (parent == nullptr) {
            root = node;
        } else if (left) {
            parent->left = node;
        } else {
            parent->right = node;
        }
        Rebalance(root, node);
    }

    // A tree of `count` nodes given in key order, in linear time: perfectly
    // balanced, black but for the nodes of an incomplete deepest level.
    static Node* Build(Node* const* nodes, std::size_t count) {
        return Build(count, [nodes](std::size_t i) { return nodes[i]; });
    }
    // The same with the i-th node in key order given by `nodeAt(i)`, asked
    // for in ascending order.
    template <class NodeAt>
    static Node* Build(std::size_t count, NodeAt nodeAt) {
        std::size_t next = 0;
        auto take = [&nodeAt, &next] { return nodeAt(next++); };
        return BuildInOrder(take, count, 0, PerfectDepth(count));
    }

    // A chain: nodes given in key order, each the right child of the one
    // before (left children null, all black). It is a valid search tree, if
    // not a balanced one, so it may be searched, iterated and torn down like
    // any other; a copy hangs its nodes this way as they come and balances
    // them once at the end. Appends `node` after `tail` (null for the first).
    static void AppendToChain(Node*& root, Node* tail, Node* node) {
        node->left = nullptr;
        node->right = nullptr;
        node->parentAndRed = reinterpret_cast<std::uintptr_t>(tail);
        if (tail == nullptr) {
            root = node;
        } else {
            tail->right = node;
        }
    }
    // Turns a chain of `count` nodes into the tree Build makes of them, in
    // linear time.
    static void BalanceChain(Node*& root, std::size_t count) {
        Node* cursor = root;
        auto take = [&cursor] {
            Node* node = cursor;
            cursor = node->right;
            return node;
        };
        root = BuildInOrder(take, count, 0, PerfectDepth(count));
    }

    static const Node* First(const Node* node) {
        if (node != nullptr) {
            while (node->left != nullptr) {
                node = node->left;
            }
        }
        return node;
    }
    // The in-order successor, or null after the last node.
    static const Node* Next(const Node* node) {
        if (node->right != nullptr) {
            return First(node->right);
        }
        const Node* parent = Parent(node);
        while (parent != nullptr && node == parent->right) {
            node = parent;
            parent = Parent(node);
        }
        return parent;
    }

    // Takes one node out of a tree that is being torn down, in linear total
    // time and no stack: left children are rotated up until the root has
    // none, then the root goes. The tree is no longer balanced (nor are its
    // parent links kept) afterwards, and is meant only for further Detach
    // calls; null when it is empty.
    static Node* Detach(Node*& root) {
        Node* node = root;
        while (node != nullptr && node->left != nullptr) {
            Node* left = node->left;
            node->left = left->right;
            left->right = node;
            node = left;
        }
        if (node != nullptr) {
            root = node->right;
        }
        return node;
    }

private:
    static void SetRed(Node* node, bool red) {
        node->parentAndRed = (node->parentAndRed & ~std::uintptr_t{1}) | (red ? 1u : 0u);
    }
    static void SetParent(Node* node, Node* parent) {
        node->parentAndRed = reinterpret_cast<std::uintptr_t>(parent) | (node->parentAndRed & 1u);
    }

    static void Replace(Node*& root, Node* old, Node* replacement) {
        Node* parent = Parent(old);
        SetParent(replacement, parent);
        if (parent == nullptr) {
            root = replacement;
        } else if (parent->left == old) {
            parent->left = replacement;
        } else {
            parent->right = replacement;
        }
    }

    static void RotateLeft(Node*& root, Node* node) {
        Node* pivot = node->right;
        node->right = pivot->left;
        if (pivot->left != nullptr) {
            SetParent(pivot->left, node);
        }
        Replace(root, node, pivot);
        pivot->left = node;
        SetParent(node, pivot);
    }

    static void RotateRight(Node*& root, Node* node) {
        Node* pivot = node->left;
        node->left = pivot->right;
        if (pivot->right != nullptr) {
            SetParent(pivot->right, node);
        }
        Replace(root, node, pivot);
        pivot->right = node;
        SetParent(node, pivot);
    }

    static void Rebalance(Node*& root, Node* current) {
        while (IsRed(Parent(current))) {
            Node* up = Parent(current);
            Node* grand = Parent(up);  // exists: the root is black
            const bool upIsLeft = up == grand->left;
            Node* uncle = upIsLeft ? grand->right : grand->left;
            if (IsRed(uncle)) {
                SetRed(up, false);
                SetRed(uncle, false);
                SetRed(grand, true);
                current = grand;
                continue;
            }
            if (upIsLeft) {
                if (current == up->right) {
                    current = up;
                    RotateLeft(root, current);
                    up = Parent(current);
                }
                SetRed(up, false);
                SetRed(grand, true);
                RotateRight(root, grand);
            } else {
                if (current == up->left) {
                    current = up;
                    RotateRight(root, current);
                    up = Parent(current);
                }
                SetRed(up, false);
                SetRed(grand, true);
                RotateLeft(root, grand);
            }
        }
        SetRed(root, false);
    }

    // Levels of a perfect tree of at most `count` nodes.
    static std::size_t PerfectDepth(std::size_t count) {
        std::size_t depth = 0;
        while ((std::size_t{2} << depth) - 1 <= count) {
            ++depth;
        }
        return depth;
    }

    // A subtree of the next `count` nodes `take()` gives, in key order: the
    // middle one is its root; nodes below the last complete level (`depth`
    // levels from the top) are red. The recursion is as deep as the tree,
    // about log2(count). The subtree's root is left without a parent.
    template <class Take>
    static Node* BuildInOrder(Take& take, std::size_t count, std::size_t level, std::size_t depth) {
        if (count == 0) {
            return nullptr;
        }
        const std::size_t middle = count / 2;
        Node* left = BuildInOrder(take, middle, level + 1, depth);
        Node* node = take();
        node->parentAndRed = level >= depth ? 1u : 0u;
        node->left = left;
        if (left != nullptr) {
            SetParent(left, node);
        }
        node->right = BuildInOrder(take, count - middle - 1, level + 1, depth);
        if (node->right != nullptr) {
            SetParent(node->right, node);
        }
        return node;
    }
};

}  // namespace Tavo::detail
