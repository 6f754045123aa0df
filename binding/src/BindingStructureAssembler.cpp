#include "binding/BindingStructureAssembler.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "binding/BindingPropertyArena.h"
#include "detail/BindingPropertyAccess.h"

namespace Tavo {

using detail::BindingStructureNode;
using detail::BindingStructureRecord;
using Access = detail::BindingPropertyAccess;
using Records = detail::BindingPropertyRecords;

namespace {

std::uint64_t AddressMix(const BindingInternedString* key) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)) *
           0x9E3779B97F4A7C15ull;
}

// The first 8 bytes of a key, big-endian and zero-padded: keys whose
// prefixes differ order as their prefixes do.
std::uint64_t Prefix(const BindingInternedString* key) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, key->CStr(), key->Size() < 8 ? key->Size() : 8);
    std::uint64_t prefix = 0;
    for (unsigned char byte : bytes) {
        prefix = (prefix << 8) | byte;
    }
    return prefix;
}

bool KeyLess(const BindingInternedString* a, std::uint64_t prefixA, const BindingInternedString* b,
             std::uint64_t prefixB) {
    if (prefixA != prefixB) {
        return prefixA < prefixB;
    }
    return Records::CompareKeys(a->View(), b->View()) < 0;
}

}  // namespace

BindingStructureAssembler::BindingStructureAssembler() = default;

BindingStructureAssembler::~BindingStructureAssembler() {
    CloseAll();
}

void BindingStructureAssembler::Open(BindingProperty& target) {
    frames_.reserve(frames_.size() + 1);  // before anything changes
    target.MakeStructure();
    BindingStructureRecord& record = Access::StructureOf(target);
    // Fields already there are in the tree: more go in the same way.
    const std::size_t first = record.count == 0 ? gathered_.size() : kLinked;
    const std::size_t depth = frames_.size();
    frames_.push_back(Frame{&target,
                            &record,
                            first,
                            0,
                            {0, 0},
                            depth < kExpectedDepths ? lastAtDepth_[depth] : nullptr});
}

BindingProperty& BindingStructureAssembler::Field(std::string_view name) {
    Frame& frame = frames_.back();
    if (frame.first == kLinked) {
        return frame.target->Field(name);
    }
    gathered_.reserve(gathered_.size() + 1);  // before the key is counted
    BindingPropertyArena& arena = *frame.record->arena;
    // The name the last structure at this depth had in this place, if it is
    // this one: a comparison of bytes instead of a lookup.
    const BindingInternedString* key = nullptr;
    const std::size_t index = gathered_.size() - frame.first;
    if (const Shape* expected = frame.expected; expected != nullptr && index < expected->count &&
                                                expected->arena == &arena &&
                                                expected->keys[index]->View() == name) {
        key = expected->keys[index];
        BindingPropertyArena::AddRef(key);
    } else {
        key = arena.Intern(name);
    }
    const std::uint64_t mixed = AddressMix(key);
    const std::uint64_t bit = std::uint64_t{1} << ((mixed >> 57) & 63);
    std::uint64_t& word = frame.filter[mixed >> 63];  // bits 57..63: one of 128
    if ((word & bit) != 0) {
        for (std::size_t i = frame.first; i < gathered_.size(); ++i) {
            if (gathered_[i].key == key) {
                arena.Release(key);  // the field's own reference stays
                return gathered_[i].node->value;
            }
        }
    }
    BindingStructureNode* node = Records::NewFieldNode(arena, key);
    word |= bit;
    frame.shape = (frame.shape ^ mixed) * 0x100000001B3ull;
    gathered_.push_back(Gathered{key, node});
    if (gathered_.size() - frame.first > kMaxGathered) {
        Link(frame);
        frame.first = kLinked;
    }
    return node->value;
}

void BindingStructureAssembler::Close() noexcept {
    if (frames_.empty()) {
        return;
    }
    if (frames_.back().first != kLinked) {
        Link(frames_.back());
    }
    frames_.pop_back();
}

void BindingStructureAssembler::CloseAll() noexcept {
    while (!frames_.empty()) {
        Close();
    }
    if (shapes_ != nullptr) {
        for (std::size_t i = 0; i < kShapeSlots; ++i) {
            Forget(shapes_[i]);
        }
    }
}

void BindingStructureAssembler::Forget(Shape& shape) noexcept {
    for (std::size_t i = 0; i < shape.count; ++i) {
        shape.arena->Release(shape.keys[i]);
    }
    shape.count = 0;
}

void BindingStructureAssembler::Link(Frame& frame) noexcept {
    const std::size_t first = frame.first;
    const std::size_t count = gathered_.size() - first;
    if (count == 0) {
        return;
    }
    std::uint8_t order[kMaxGathered + 1];
    if (count == 1) {
        order[0] = 0;
    } else {
        if (shapes_ == nullptr && count <= kMaxGathered) {
            shapes_.reset(new (std::nothrow) Shape[kShapeSlots]);
        }
        Shape* shape = nullptr;
        if (shapes_ != nullptr && count <= kMaxGathered) {
            shape = &shapes_[((frame.shape ^ count) * 0x9E3779B97F4A7C15ull) >> 59];
        }
        BindingPropertyArena* arena = frame.record->arena;
        bool known = shape != nullptr && shape->hash == frame.shape && shape->count == count &&
                     shape->arena == arena;
        for (std::size_t i = 0; known && i < count; ++i) {
            known = shape->keys[i] == gathered_[first + i].key;
        }
        if (known) {
            std::memcpy(order, shape->order, count);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                order[i] = static_cast<std::uint8_t>(i);
            }
            SortOrder(first, count, order);
            if (shape != nullptr) {
                Forget(*shape);
                shape->hash = frame.shape;
                shape->arena = arena;
                for (std::size_t i = 0; i < count; ++i) {
                    shape->keys[i] = gathered_[first + i].key;
                    BindingPropertyArena::AddRef(shape->keys[i]);
                }
                std::memcpy(shape->order, order, count);
                shape->count = count;
            }
        }
        const auto depth = static_cast<std::size_t>(&frame - frames_.data());
        if (shape != nullptr && depth < kExpectedDepths) {
            lastAtDepth_[depth] = shape;
        }
    }
    const Gathered* gathered = gathered_.data() + first;
    BindingStructureRecord& record = *frame.record;
    record.root = detail::FieldTree::Build(
        count, [gathered, &order](std::size_t i) { return gathered[order[i]].node; });
    record.count = count;
    gathered_.resize(first);
}

void BindingStructureAssembler::SortOrder(std::size_t first, std::size_t count,
                                          std::uint8_t* order) noexcept {
    const Gathered* gathered = gathered_.data() + first;
    std::uint64_t prefixes[kMaxGathered + 1];
    for (std::size_t i = 0; i < count; ++i) {
        prefixes[i] = Prefix(gathered[i].key);
    }
    std::sort(order, order + count, [gathered, &prefixes](std::uint8_t a, std::uint8_t b) {
        return KeyLess(gathered[a].key, prefixes[a], gathered[b].key, prefixes[b]);
    });
}

}  // namespace Tavo
