#pragma once
// Fills structures from a stream of named members, as readers produce them,
// for less than one Field call per member costs: the fields of an open
// structure are made at once but linked into its ordered tree only when it
// closes, in linear time after one sort. Documents repeat their record
// shapes, so the order found for an earlier structure with the same names in
// the same sequence is remembered and reused without comparing a byte: the
// assembler holds a reference on the names of each remembered order, so an
// address it knows always denotes the same text. The names of the structure
// last closed at the same depth are also the first guess for the next one's,
// tried before the arena's intern table.
//
// Structures nest: Open inside an open structure's field (or inside any
// value below it) opens an inner one, and Close closes the innermost.
// A repeated name gives the field made for it before, exactly as Field does,
// so readers keep their repeated-member behaviour. Field values never move:
// references to them stay valid for the life of the tree.
//
// Invariants the caller keeps:
// - while a structure is open, it and its fields are reached only through
//   this assembler (its fields are not linked yet, so Find and iteration on
//   it would not see them);
// - CloseAll is called before the tree is cleared, failed or handed on: it
//   links what is still open and drops the references the assembler holds.
//   The destructor does the same, so the assembler must not outlive the
//   tree.
//
// Threading: one thread at a time, the tree's.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingPropertyArena.h"

namespace Tavo {

class BindingStructureAssembler {
public:
    BindingStructureAssembler();
    ~BindingStructureAssembler();
    BindingStructureAssembler(const BindingStructureAssembler&) = delete;
    BindingStructureAssembler& operator=(const BindingStructureAssembler&) = delete;

    // Makes `target` a structure (an existing one keeps its fields, which are
    // then extended through Field as Field would) and opens it inside the
    // innermost open one. Throws std::bad_alloc.
    void Open(BindingProperty& target);
    // The field `name` of the innermost open structure, made empty when
    // missing. Throws std::bad_alloc; nothing is added then.
    BindingProperty& Field(std::string_view name);
    // Links the innermost open structure's fields and closes it.
    void Close() noexcept;
    // Closes every open structure and forgets the remembered orders.
    void CloseAll() noexcept;
    std::size_t Depth() const { return frames_.size(); }

    // More fields than this are linked as they come: the pass for a repeated
    // name and the sort are for the records documents are made of.
    static constexpr std::size_t kMaxGathered = 64;

private:
    struct Gathered {
        const BindingInternedString* key;  // the node's own reference
        detail::BindingStructureNode* node;
    };
    // A remembered order: `keys` as they came, each counted in `arena`, and
    // `order[i]` the index among them of the i-th in byte order.
    struct Shape {
        std::uint64_t hash = 0;
        std::size_t count = 0;  // 0: free
        BindingPropertyArena* arena = nullptr;
        const BindingInternedString* keys[kMaxGathered];
        std::uint8_t order[kMaxGathered];
    };
    struct Frame {
        BindingProperty* target;
        detail::BindingStructureRecord* record;
        std::size_t first;    // its fields are gathered_[first..]; kLinked when they go in directly
        std::uint64_t shape;  // hash of the key records in the order they came
        std::uint64_t filter[2];  // a bit per key record: a clear bit proves a name new
        const Shape* expected;    // of the structure last closed at this depth, or null
    };
    static constexpr std::size_t kLinked = ~std::size_t{0};
    static constexpr std::size_t kShapeSlots = 32;
    static constexpr std::size_t kExpectedDepths = 32;

    // Links the gathered fields of the innermost frame into its tree.
    void Link(Frame& frame) noexcept;
    // Sorts order[0..count) by the keys of gathered_[first + order[i]].
    void SortOrder(std::size_t first, std::size_t count, std::uint8_t* order) noexcept;
    static void Forget(Shape& shape) noexcept;

    std::vector<Gathered> gathered_;
    std::vector<Frame> frames_;
    std::unique_ptr<Shape[]> shapes_;
    // The remembered order each depth's last structure had (slots of shapes_).
    const Shape* lastAtDepth_[kExpectedDepths] = {};
};

}  // namespace Tavo
