#pragma once
// The representation of BindingProperty as the binding layer's own sources
// see it, split by job:
// - BindingPropertyAccess: a value's kind, payload and arena (the friend that
//   BindingProperty's members and the records go through);
// - BindingPropertyRecords: making and growing the payload records in an
//   arena, and a structure's fields (BindingPropertyRecords.cpp);
// - BindingPropertyWalks: the iterative whole-tree operations: release,
//   copy, containment, visiting, equality (BindingPropertyWalks.cpp).
// Not for other layers: they use BindingProperty's public methods.
//
// Threading: as the tree they work on, one thread at a time.

#include <cstddef>
#include <span>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/BindingPropertyArena.h"
#include "binding/detail/RedBlackTree.h"

namespace Tavo::detail {

// A structure's fields, ordered by key bytes.
using FieldTree = RedBlackTree<BindingStructureNode>;

class BindingPropertyAccess {
public:
    using Kind = BindingProperty::Kind;
    using Payload = BindingProperty::Payload;

    // The value's arena, made now when a root has none yet (children always
    // have their root's). Throws std::bad_alloc.
    static BindingPropertyArena& ArenaOf(BindingProperty& value) {
        if (value.arena_ == nullptr) {
            value.arena_ = BindingPropertyArena::Create();
        }
        return *value.arena_;
    }

    // Constructs an empty child of `arena` in raw storage.
    static void InitChild(BindingProperty* slot, BindingPropertyArena* arena) {
        BindingProperty::InitChildAt(slot, arena);
    }

    // The record of a value that is a structure.
    static BindingStructureRecord& StructureOf(BindingProperty& value) {
        return *static_cast<BindingStructureRecord*>(value.value_.object);
    }

    // Installs a payload made in the value's arena; the old one must be gone.
    static void Store(BindingProperty& value, Kind kind, Payload payload) {
        value.kind_ = kind;
        value.value_ = payload;
    }

    // Releases the old payload without resetting a root's arena, for setters
    // that made their new payload in the same arena first. Inline: readers
    // set millions of fresh values, which hold nothing to release.
    static void ReleaseOwn(BindingProperty& value) noexcept;

    // value becomes {"error": message}. The message is copied before the old
    // content goes, so it may come from the value itself.
    static void MakeError(BindingProperty& value, std::string_view message);
};

struct BindingPropertyRecords {
    // What a collection growing beyond BindingProperty::kMaxElements throws.
    [[noreturn]] static void ThrowTooLong();

    static BindingBlobRecord* NewBlob(BindingPropertyArena& arena,
                                      std::span<const std::uint8_t> bytes);
    static BindingEnumPayload* NewEnum(BindingPropertyArena& arena, BindingEnumPayload payload);
    // A collection of `size` empty children, with room for at least that many.
    static BindingCollectionRecord* NewCollection(BindingPropertyArena& arena, std::size_t size);
    // Makes room for `needed` elements: exactly that many when `exact`, else at
    // least double, in both cases rounded up to what the block holds. Throws
    // std::length_error beyond BindingProperty::kMaxElements.
    static void Grow(BindingPropertyArena& arena, BindingCollectionRecord& record,
                     std::size_t needed, bool exact);
    static BindingProperty& AppendChild(BindingPropertyArena& arena,
                                        BindingCollectionRecord& record);
    static BindingStructureRecord* NewStructure(BindingPropertyArena& arena);

    // The order of structure keys: bytes compared as unsigned characters,
    // then length.
    static int CompareKeys(std::string_view a, std::string_view b);
    // Where the field `name` is, or would hang.
    static FieldTree::Probe FindField(const BindingStructureRecord& record, std::string_view name);
    // A field node holding `key` and an empty value, not yet linked. Takes
    // over the caller's reference to `key`, releasing it when the node
    // cannot be made.
    static BindingStructureNode* NewFieldNode(BindingPropertyArena& arena,
                                              const BindingInternedString* key);
    // Adds a field where `probe` found room. Takes over the reference on
    // `key`; on failure the reference is released.
    static BindingStructureNode* AddField(BindingStructureRecord& record,
                                          const FieldTree::Probe& probe,
                                          const BindingInternedString* key);
};

struct BindingPropertyWalks {
    using Kind = BindingProperty::Kind;
    using Payload = BindingProperty::Payload;

    // Releases a payload and everything below it. If the walk's own stack
    // cannot grow, the rest of that subtree is left to the arena, which frees
    // it when it is reset or destroyed.
    static void ReleasePayload(BindingPropertyArena* arena, Kind kind, Payload payload) noexcept;
    // Fills `target` (empty) with a deep copy of `source`, whose containers
    // belong to another tree.
    static void CopyTree(BindingProperty& target, const BindingProperty& source);
    // Whether `needle` is `haystack` or lies anywhere in its tree.
    static bool Contains(const BindingProperty& haystack, const BindingProperty* needle);
    // Copy assignment from a value whose containers are not in `target`'s
    // tree. Leaves (strings, blobs, enums) may be: their new payload is made
    // before the old one is released.
    static void AssignFromOtherTree(BindingProperty& target, const BindingProperty& source);
    static void Accept(const BindingProperty& root, BindingPropertyVisitor& visitor);
    static bool Equal(const BindingProperty& a, const BindingProperty& b);
};

inline void BindingPropertyAccess::ReleaseOwn(BindingProperty& value) noexcept {
    const Kind kind = value.kind_;
    const Payload payload = value.value_;
    value.kind_ = Kind::Empty;
    value.value_.u64 = 0;
    if (kind >= Kind::String) {  // empty, bool and numbers hold nothing to release
        BindingPropertyWalks::ReleasePayload(value.arena_, kind, payload);
    }
}

}  // namespace Tavo::detail
