#include <algorithm>
#include <cstring>

#include "detail/BindingPropertyAccess.h"
#include "detail/WalkStack.h"

namespace Tavo::detail {

namespace {

bool IsContainer(BindingProperty::Kind kind) {
    return kind == BindingProperty::Kind::Collection || kind == BindingProperty::Kind::Structure;
}

}  // namespace

// Releases a payload and everything below it. Iterative; if the walk's own
// stack cannot grow, the rest of that subtree is left to the arena, which
// frees it when it is reset or destroyed.
void BindingPropertyWalks::ReleasePayload(BindingPropertyArena* arena, Kind kind,
                                          Payload payload) noexcept {
    struct Frame {
        Kind kind;
        std::uint32_t index;
        void* record;
    };
    WalkStack<Frame> stack;
    auto releaseOne = [&](Kind k, Payload p) {
        switch (k) {
            case Kind::String:
                if (p.string != &BindingInternedString::Empty()) {
                    arena->Release(p.string);
                }
                break;
            case Kind::Blob: {
                auto* blob = static_cast<BindingBlobRecord*>(p.object);
                arena->Deallocate(blob->data, blob->capacity);
                arena->Deallocate(blob, sizeof(BindingBlobRecord));
                break;
            }
            case Kind::Enum:
                arena->Deallocate(p.object, sizeof(BindingEnumPayload));
                break;
            case Kind::Collection:
            case Kind::Structure:
                (void)stack.TryPush(Frame{k, 0, p.object});
                break;
            default:
                break;
        }
    };
    releaseOne(kind, payload);
    while (!stack.Empty()) {
        Frame& frame = stack.Top();
        if (frame.kind == Kind::Collection) {
            auto* record = static_cast<BindingCollectionRecord*>(frame.record);
            if (frame.index == record->size) {
                arena->Deallocate(record->data,
                                  std::size_t{record->capacity} * sizeof(BindingProperty));
                arena->Deallocate(record, sizeof(BindingCollectionRecord));
                stack.Pop();
                continue;
            }
            const BindingProperty& element = record->data[frame.index++];
            releaseOne(element.kind_, element.value_);  // may push: `frame` is stale after
        } else {
            auto* record = static_cast<BindingStructureRecord*>(frame.record);
            // Linear time, no stack: the tree is torn down, balance no longer matters.
            BindingStructureNode* node = FieldTree::Detach(record->root);
            if (node == nullptr) {
                arena->Deallocate(record, sizeof(BindingStructureRecord));
                stack.Pop();
                continue;
            }
            arena->Release(node->key);
            Kind childKind = node->value.kind_;
            Payload childPayload = node->value.value_;
            arena->Deallocate(node, sizeof(BindingStructureNode));
            releaseOne(childKind, childPayload);
        }
    }
}

namespace {

// The records of a source tree already copied into the target arena, found
// by the source record's address: a copy meets the same few keys and texts
// over and over, and this costs neither the bucket hash nor a comparison of
// bytes. Direct-mapped; a collision only costs the table's way. Only for
// copies of trees large enough to pay for clearing it.
class CopiedTexts {
public:
    static constexpr std::size_t kMinStrings = 64;

    void Enable() {
        std::memset(static_cast<void*>(entries_), 0, sizeof entries_);
        enabled_ = true;
    }

    // The target's record of `from`, counted once more.
    const BindingInternedString* Copy(BindingPropertyArena& arena,
                                      const BindingInternedString* from) {
        if (from == &BindingInternedString::Empty()) {
            return from;
        }
        if (!enabled_) {
            return arena.Intern(*from);
        }
        Entry& entry = entries_[SlotOf(from)];
        if (entry.from == from) {
            BindingPropertyArena::AddRef(entry.to);
            return entry.to;
        }
        const BindingInternedString* to = arena.InternCopied(*from);
        entry = Entry{from, to};
        return to;
    }

private:
    static constexpr std::size_t kSlotBits = 9;
    static std::size_t SlotOf(const BindingInternedString* record) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(record));
        return static_cast<std::size_t>(((address >> 3) * 0x9E3779B97F4A7C15ull) >>
                                        (64 - kSlotBits));
    }
    struct Entry {
        const BindingInternedString* from;
        const BindingInternedString* to;
    };
    Entry entries_[std::size_t{1} << kSlotBits];
    bool enabled_ = false;
};

}  // namespace

// Fills `target` (empty) with a deep copy of `source`, whose containers
// belong to another tree. Iterative.
//
// A structure's fields come in key order: they are hung as a chain (a valid,
// if unbalanced, search tree at every step, so a copy cut short by an
// exception leaves a tree that can still be searched and released) and
// balanced once, in linear time, when the last one is in. Linking each as
// the greatest key instead walked the right spine and rebalanced per field.
void BindingPropertyWalks::CopyTree(BindingProperty& target, const BindingProperty& source) {
    struct Frame {
        Kind kind;
        std::uint32_t index;
        const void* from;  // collection record, or the next structure node
        void* to;          // the target's collection or structure record
        void* tail;        // a structure's last field so far (its fields form a chain)
    };
    WalkStack<Frame> stack;
    CopiedTexts texts;
    auto copyOne = [&](BindingProperty& to, const BindingProperty& from) {
        switch (from.kind_) {
            case Kind::Empty:
                break;
            case Kind::String: {
                const BindingInternedString* text =
                    texts.Copy(BindingPropertyAccess::ArenaOf(to), from.value_.string);
                BindingPropertyAccess::Store(to, Kind::String, Payload{.string = text});
                break;
            }
            case Kind::Blob: {
                auto* blob = static_cast<const BindingBlobRecord*>(from.value_.object);
                BindingPropertyAccess::Store(
                    to, Kind::Blob,
                    Payload{.object = BindingPropertyRecords::NewBlob(
                                BindingPropertyAccess::ArenaOf(to), {blob->data, blob->size})});
                break;
            }
            case Kind::Enum:
                BindingPropertyAccess::Store(
                    to, Kind::Enum,
                    Payload{.object = BindingPropertyRecords::NewEnum(
                                BindingPropertyAccess::ArenaOf(to),
                                *static_cast<const BindingEnumPayload*>(from.value_.object))});
                break;
            case Kind::Collection: {
                auto* record = static_cast<const BindingCollectionRecord*>(from.value_.object);
                BindingCollectionRecord* copy = BindingPropertyRecords::NewCollection(
                    BindingPropertyAccess::ArenaOf(to), record->size);
                BindingPropertyAccess::Store(to, Kind::Collection, Payload{.object = copy});
                if (record->size != 0) {
                    stack.Push(Frame{Kind::Collection, 0, record, copy, nullptr});
                }
                break;
            }
            case Kind::Structure: {
                auto* record = static_cast<const BindingStructureRecord*>(from.value_.object);
                BindingStructureRecord* copy =
                    BindingPropertyRecords::NewStructure(BindingPropertyAccess::ArenaOf(to));
                BindingPropertyAccess::Store(to, Kind::Structure, Payload{.object = copy});
                if (record->root != nullptr) {
                    stack.Push(
                        Frame{Kind::Structure, 0, FieldTree::First(record->root), copy, nullptr});
                }
                break;
            }
            default:  // bool, signed, unsigned, float
                BindingPropertyAccess::Store(to, from.kind_, from.value_);
                break;
        }
    };
    if (source.ownsArena_ && source.arena_ != nullptr && IsContainer(source.kind_)) {
        // A whole tree: every text of its arena will be needed.
        const std::size_t strings = source.arena_->ReadStats().strings;
        BindingPropertyAccess::ArenaOf(target).ReserveStrings(strings);
        if (strings >= CopiedTexts::kMinStrings) {
            texts.Enable();
        }
    }
    copyOne(target, source);
    while (!stack.Empty()) {
        Frame& frame = stack.Top();
        if (frame.kind == Kind::Collection) {
            auto* from = static_cast<const BindingCollectionRecord*>(frame.from);
            if (frame.index == from->size) {
                stack.Pop();
                continue;
            }
            std::uint32_t index = frame.index++;
            auto* to = static_cast<BindingCollectionRecord*>(frame.to);
            copyOne(to->data[index], from->data[index]);  // may push: `frame` is stale after
        } else {
            auto* node = static_cast<const BindingStructureNode*>(frame.from);
            auto* to = static_cast<BindingStructureRecord*>(frame.to);
            if (node == nullptr) {
                FieldTree::BalanceChain(to->root, to->count);
                stack.Pop();
                continue;
            }
            frame.from = FieldTree::Next(node);
            BindingPropertyArena& arena = *to->arena;
            const BindingInternedString* key = texts.Copy(arena, node->key);
            BindingStructureNode* field = BindingPropertyRecords::NewFieldNode(arena, key);
            FieldTree::AppendToChain(to->root, static_cast<BindingStructureNode*>(frame.tail),
                                     field);
            frame.tail = field;
            ++to->count;
            copyOne(field->value, node->value);  // may push: `frame` is stale after
        }
    }
}

// Whether `needle` is `haystack` or lies anywhere in its tree.
bool BindingPropertyWalks::Contains(const BindingProperty& haystack,
                                    const BindingProperty* needle) {
    struct Frame {
        const BindingProperty* value;
    };
    WalkStack<Frame> stack;
    stack.Push(Frame{&haystack});
    while (!stack.Empty()) {
        const BindingProperty* value = stack.Top().value;
        stack.Pop();
        if (value == needle) {
            return true;
        }
        if (value->kind_ == Kind::Collection) {
            for (const BindingProperty& element : value->Elements()) {
                stack.Push(Frame{&element});
            }
        } else if (value->kind_ == Kind::Structure) {
            for (BindingProperty::FieldRef field : value->Fields()) {
                stack.Push(Frame{&field.value});
            }
        }
    }
    return false;
}

// Copy assignment from a value whose containers are not in `target`'s tree.
// Leaves (strings, blobs, enums) may be: their new payload is made before
// the old one is released.
void BindingPropertyWalks::AssignFromOtherTree(BindingProperty& target,
                                               const BindingProperty& source) {
    Kind kind = source.kind_;
    Payload payload = source.value_;
    switch (kind) {
        case Kind::String: {
            const BindingInternedString* text = payload.string;
            if (text != &BindingInternedString::Empty()) {
                if (source.arena_ == target.arena_) {
                    BindingPropertyArena::AddRef(text);
                } else {
                    text = BindingPropertyAccess::ArenaOf(target).Intern(*text);
                }
            }
            BindingPropertyAccess::ReleaseOwn(target);
            BindingPropertyAccess::Store(target, kind, Payload{.string = text});
            return;
        }
        case Kind::Blob: {
            auto* blob = static_cast<const BindingBlobRecord*>(payload.object);
            BindingBlobRecord* copy = BindingPropertyRecords::NewBlob(
                BindingPropertyAccess::ArenaOf(target), {blob->data, blob->size});
            BindingPropertyAccess::ReleaseOwn(target);
            BindingPropertyAccess::Store(target, kind, Payload{.object = copy});
            return;
        }
        case Kind::Enum: {
            BindingEnumPayload* copy = BindingPropertyRecords::NewEnum(
                BindingPropertyAccess::ArenaOf(target),
                *static_cast<const BindingEnumPayload*>(payload.object));
            BindingPropertyAccess::ReleaseOwn(target);
            BindingPropertyAccess::Store(target, kind, Payload{.object = copy});
            return;
        }
        case Kind::Collection:
        case Kind::Structure:
            target.Clear();
            CopyTree(target, source);
            return;
        default:  // empty and scalars: read before Clear, which may free the source
            target.Clear();
            BindingPropertyAccess::Store(target, kind, payload);
            return;
    }
}

void BindingPropertyWalks::Accept(const BindingProperty& root, BindingPropertyVisitor& visitor) {
    struct Frame {
        Kind kind;
        bool open;  // an element or field has begun and awaits its end
        std::uint32_t index;
        const void* at;  // collection record, or the current structure node
    };
    WalkStack<Frame> stack;
    auto visitOne = [&](const BindingProperty& value) {
        switch (value.kind_) {
            case Kind::Empty:
                visitor.VisitEmpty();
                break;
            case Kind::Bool:
                visitor.VisitBool(value.value_.boolean);
                break;
            case Kind::Signed:
                visitor.VisitSigned(value.value_.i64);
                break;
            case Kind::Unsigned:
                visitor.VisitUnsigned(value.value_.u64);
                break;
            case Kind::Float:
                visitor.VisitFloat(value.value_.f64);
                break;
            case Kind::String:
                visitor.VisitString(*value.value_.string);
                break;
            case Kind::Blob:
                visitor.VisitBlob(value.GetBlob());
                break;
            case Kind::Enum:
                visitor.VisitEnum(*static_cast<const BindingEnumPayload*>(value.value_.object));
                break;
            case Kind::Collection: {
                auto* record = static_cast<const BindingCollectionRecord*>(value.value_.object);
                visitor.BeginCollection(record->size);
                stack.Push(Frame{Kind::Collection, false, 0, record});
                break;
            }
            case Kind::Structure: {
                auto* record = static_cast<const BindingStructureRecord*>(value.value_.object);
                visitor.BeginStructure(record->count);
                stack.Push(Frame{Kind::Structure, false, 0, FieldTree::First(record->root)});
                break;
            }
            default:  // a tag outside 0..9 calls nothing
                break;
        }
    };
    visitOne(root);
    while (!stack.Empty()) {
        Frame& frame = stack.Top();
        if (frame.kind == Kind::Collection) {
            auto* record = static_cast<const BindingCollectionRecord*>(frame.at);
            if (frame.open) {
                visitor.EndElement(frame.index);
                frame.open = false;
                ++frame.index;
            }
            if (frame.index == record->size) {
                visitor.EndCollection();
                stack.Pop();
                continue;
            }
            frame.open = true;
            visitor.BeginElement(frame.index);
            visitOne(record->data[frame.index]);  // may push: `frame` is stale after
        } else {
            auto* node = static_cast<const BindingStructureNode*>(frame.at);
            if (frame.open) {
                visitor.EndField(*node->key);
                frame.open = false;
                node = FieldTree::Next(node);
                frame.at = node;
            }
            if (node == nullptr) {
                visitor.EndStructure();
                stack.Pop();
                continue;
            }
            frame.open = true;
            visitor.BeginField(*node->key);
            visitOne(node->value);
        }
    }
}

bool BindingPropertyWalks::Equal(const BindingProperty& a, const BindingProperty& b) {
    struct Frame {
        Kind kind;
        std::uint32_t index;
        const void* left;  // collection records, or the current structure nodes
        const void* right;
    };
    WalkStack<Frame> stack;
    // Compares one pair; containers of equal size are pushed for their children.
    auto equalOne = [&](const BindingProperty& x, const BindingProperty& y) {
        if (x.kind_ != y.kind_) {
            return false;
        }
        switch (x.kind_) {
            case Kind::Empty:
                return true;
            case Kind::Bool:
                return x.value_.boolean == y.value_.boolean;
            case Kind::Signed:
            case Kind::Unsigned:
            case Kind::Float:  // bit patterns
                return x.value_.u64 == y.value_.u64;
            case Kind::String:
                return x.value_.string == y.value_.string ||
                       x.value_.string->View() == y.value_.string->View();
            case Kind::Blob: {
                auto xs = x.GetBlob();
                auto ys = y.GetBlob();
                return std::equal(xs.begin(), xs.end(), ys.begin(), ys.end());
            }
            case Kind::Enum: {
                auto* xe = static_cast<const BindingEnumPayload*>(x.value_.object);
                auto* ye = static_cast<const BindingEnumPayload*>(y.value_.object);
                return xe->value == ye->value && xe->type == ye->type;
            }
            case Kind::Collection: {
                auto* xr = static_cast<const BindingCollectionRecord*>(x.value_.object);
                auto* yr = static_cast<const BindingCollectionRecord*>(y.value_.object);
                if (xr->size != yr->size) {
                    return false;
                }
                stack.Push(Frame{Kind::Collection, 0, xr, yr});
                return true;
            }
            case Kind::Structure: {
                auto* xr = static_cast<const BindingStructureRecord*>(x.value_.object);
                auto* yr = static_cast<const BindingStructureRecord*>(y.value_.object);
                if (xr->count != yr->count) {
                    return false;
                }
                stack.Push(Frame{Kind::Structure, 0, FieldTree::First(xr->root),
                                 FieldTree::First(yr->root)});
                return true;
            }
            default:
                return true;  // same unknown tag, no payload to compare
        }
    };
    if (!equalOne(a, b)) {
        return false;
    }
    while (!stack.Empty()) {
        Frame& frame = stack.Top();
        if (frame.kind == Kind::Collection) {
            auto* xr = static_cast<const BindingCollectionRecord*>(frame.left);
            auto* yr = static_cast<const BindingCollectionRecord*>(frame.right);
            if (frame.index == xr->size) {
                stack.Pop();
                continue;
            }
            std::uint32_t index = frame.index++;
            if (!equalOne(xr->data[index], yr->data[index])) {
                return false;
            }
        } else {
            auto* xn = static_cast<const BindingStructureNode*>(frame.left);
            auto* yn = static_cast<const BindingStructureNode*>(frame.right);
            if (xn == nullptr) {  // equal counts: both end together
                stack.Pop();
                continue;
            }
            frame.left = FieldTree::Next(xn);
            frame.right = FieldTree::Next(yn);
            if (xn->key->View() != yn->key->View() || !equalOne(xn->value, yn->value)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace Tavo::detail
