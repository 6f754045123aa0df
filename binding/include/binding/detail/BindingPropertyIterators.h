#pragma once
// Payload records of BindingProperty and the field iterator. Included by
// binding/BindingProperty.h only; other layers use the public methods.
//
// All records live in the tree's arena and never move once made, so frames,
// iterators and parent links may point at them. Element arrays do move when
// a collection grows: they are relocated bit for bit (a value holds no pointer
// to itself), never through BindingProperty's assignment.

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "binding/detail/RedBlackTree.h"

namespace Tavo::detail {

struct BindingBlobRecord {
    std::uint8_t* data;  // arena block of `capacity` bytes, null when capacity is 0
    std::size_t size;
    std::size_t capacity;
};

struct BindingCollectionRecord {
    BindingProperty* data;  // arena block of `capacity` elements
    std::uint32_t size;
    std::uint32_t capacity;
};

// One field of a structure: a node of a RedBlackTree ordered by key bytes.
// The parent pointer carries the colour in its lowest bit (nodes are
// 4-aligned).
struct BindingStructureNode {
    BindingStructureNode* left;
    BindingStructureNode* right;
    std::uintptr_t parentAndRed;
    const BindingInternedString* key;  // counted reference into the arena's table
    BindingProperty value;             // a child: shares the arena, ownsArena false
};

struct BindingStructureRecord {
    BindingPropertyArena* arena;
    BindingStructureNode* root;
    std::size_t count;
};

}  // namespace Tavo::detail

namespace Tavo {

class BindingProperty::FieldIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = FieldRef;
    using difference_type = std::ptrdiff_t;
    using reference = FieldRef;
    using pointer = void;

    FieldIterator() = default;
    explicit FieldIterator(const detail::BindingStructureNode* node) : node_(node) {}

    FieldRef operator*() const { return FieldRef{*node_->key, node_->value}; }
    FieldIterator& operator++() {
        node_ = detail::RedBlackTree<detail::BindingStructureNode>::Next(node_);
        return *this;
    }
    FieldIterator operator++(int) {
        FieldIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const FieldIterator& a, const FieldIterator& b) {
        return a.node_ == b.node_;
    }

private:
    const detail::BindingStructureNode* node_ = nullptr;
};

class BindingProperty::FieldRange {
public:
    FieldRange() = default;
    FieldRange(const detail::BindingStructureNode* root, std::size_t count)
        : first_(detail::RedBlackTree<detail::BindingStructureNode>::First(root)), count_(count) {}

    FieldIterator begin() const { return FieldIterator(first_); }
    FieldIterator end() const { return FieldIterator(); }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

private:
    const detail::BindingStructureNode* first_ = nullptr;
    std::size_t count_ = 0;
};

}  // namespace Tavo
