#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "detail/BindingPropertyAccess.h"

namespace Tavo::detail {

// Byte order as unsigned characters, like memcmp. Keys mostly differ within
// their first bytes, where a loop beats the call; longer common prefixes go
// to memcmp.
int BindingPropertyRecords::CompareKeys(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    const std::size_t inlined = common < 16 ? common : 16;
    for (std::size_t i = 0; i < inlined; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (common > inlined) {
        if (const int order =
                std::memcmp(a.data() + inlined, b.data() + inlined, common - inlined)) {
            return order;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

void BindingPropertyRecords::ThrowTooLong() {
    throw std::length_error("vector<T> too long");
}

BindingBlobRecord* BindingPropertyRecords::NewBlob(BindingPropertyArena& arena,
                                                   std::span<const std::uint8_t> bytes) {
    auto* record = static_cast<BindingBlobRecord*>(arena.Allocate(sizeof(BindingBlobRecord)));
    record->data = nullptr;
    record->size = 0;
    record->capacity = 0;
    if (!bytes.empty()) {
        try {
            record->data = static_cast<std::uint8_t*>(arena.Allocate(bytes.size()));
        } catch (...) {
            arena.Deallocate(record, sizeof(BindingBlobRecord));
            throw;
        }
        std::memcpy(record->data, bytes.data(), bytes.size());
        record->size = bytes.size();
        record->capacity = bytes.size();
    }
    return record;
}

BindingEnumPayload* BindingPropertyRecords::NewEnum(BindingPropertyArena& arena,
                                                    BindingEnumPayload payload) {
    auto* record = static_cast<BindingEnumPayload*>(arena.Allocate(sizeof(BindingEnumPayload)));
    *record = payload;
    return record;
}

// A collection of `size` empty children, with room for at least that many.
BindingCollectionRecord* BindingPropertyRecords::NewCollection(BindingPropertyArena& arena,
                                                               std::size_t size) {
    auto* record =
        static_cast<BindingCollectionRecord*>(arena.Allocate(sizeof(BindingCollectionRecord)));
    record->data = nullptr;
    record->size = 0;
    record->capacity = 0;
    if (size != 0) {
        try {
            Grow(arena, *record, size, true);
        } catch (...) {
            arena.Deallocate(record, sizeof(BindingCollectionRecord));
            throw;
        }
        for (std::size_t i = 0; i < size; ++i) {
            BindingPropertyAccess::InitChild(record->data + i, &arena);
        }
        record->size = static_cast<std::uint32_t>(size);
    }
    return record;
}

// Makes room for `needed` elements: exactly that many when `exact`, else at
// least double, in both cases rounded up to what the block holds.
// Relocation copies the bits: children hold no pointer to themselves.
void BindingPropertyRecords::Grow(BindingPropertyArena& arena, BindingCollectionRecord& record,
                                  std::size_t needed, bool exact) {
    if (needed > BindingProperty::kMaxElements) {
        ThrowTooLong();
    }
    std::size_t capacity = needed;
    if (!exact) {
        capacity =
            std::max<std::size_t>({needed, std::size_t{2}, std::size_t{record.capacity} * 2});
        capacity = std::min(capacity, BindingProperty::kMaxElements);
    }
    std::size_t bytes = capacity * sizeof(BindingProperty);
    auto* data = static_cast<BindingProperty*>(arena.Allocate(bytes));
    capacity = std::min(BindingPropertyArena::UsableSize(bytes) / sizeof(BindingProperty),
                        BindingProperty::kMaxElements);
    if (record.size != 0) {
        std::memcpy(static_cast<void*>(data), static_cast<const void*>(record.data),
                    std::size_t{record.size} * sizeof(BindingProperty));
    }
    arena.Deallocate(record.data, std::size_t{record.capacity} * sizeof(BindingProperty));
    record.data = data;
    record.capacity = static_cast<std::uint32_t>(capacity);
}

BindingProperty& BindingPropertyRecords::AppendChild(BindingPropertyArena& arena,
                                                     BindingCollectionRecord& record) {
    if (record.size == record.capacity) {
        Grow(arena, record, std::size_t{record.size} + 1, false);
    }
    BindingProperty* slot = record.data + record.size;
    BindingPropertyAccess::InitChild(slot, &arena);
    ++record.size;
    return *slot;
}

BindingStructureRecord* BindingPropertyRecords::NewStructure(BindingPropertyArena& arena) {
    auto* record =
        static_cast<BindingStructureRecord*>(arena.Allocate(sizeof(BindingStructureRecord)));
    record->arena = &arena;
    record->root = nullptr;
    record->count = 0;
    return record;
}

FieldTree::Probe BindingPropertyRecords::FindField(const BindingStructureRecord& record,
                                                   std::string_view name) {
    return FieldTree::Search(record.root, [name](const BindingStructureNode* node) {
        return CompareKeys(name, node->key->View());
    });
}

BindingStructureNode* BindingPropertyRecords::NewFieldNode(BindingPropertyArena& arena,
                                                           const BindingInternedString* key) {
    BindingStructureNode* node;
    try {
        node = static_cast<BindingStructureNode*>(arena.Allocate(sizeof(BindingStructureNode)));
    } catch (...) {
        arena.Release(key);
        throw;
    }
    node->key = key;
    BindingPropertyAccess::InitChild(&node->value, &arena);
    return node;
}

BindingStructureNode* BindingPropertyRecords::AddField(BindingStructureRecord& record,
                                                       const FieldTree::Probe& probe,
                                                       const BindingInternedString* key) {
    BindingStructureNode* node = NewFieldNode(*record.arena, key);
    FieldTree::Link(record.root, node, probe.parent, probe.left);
    ++record.count;
    return node;
}

}  // namespace Tavo::detail
