#include "binding/BindingProperty.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "binding/BindingPropertyArena.h"
#include "platform/MemoryAccounting.h"

namespace Tavo {

using detail::BindingBlobRecord;
using detail::BindingCollectionRecord;
using detail::BindingStructureNode;
using detail::BindingStructureRecord;

namespace {

constinit const BindingProperty kEmptyValue;

// The explicit stack of the iterative tree walks (Clear, copy, Accept,
// equality), so that depth costs heap rather than call stack. Frames are kept
// inline up to kInline, then on the counting heap. Frames must be trivially
// copyable.
template <class Frame, std::size_t kInline = 48>
class WalkStack {
public:
    WalkStack() = default;
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    ~WalkStack() {
        if (data_ != inline_) {
            Memory::Free(data_);
        }
    }

    // False when the stack cannot grow; it is unchanged then.
    bool TryPush(const Frame& frame) noexcept {
        if (size_ == capacity_ && !Grow()) {
            return false;
        }
        data_[size_++] = frame;
        return true;
    }
    void Push(const Frame& frame) {
        if (!TryPush(frame)) {
            throw std::bad_alloc();
        }
    }
    Frame& Top() { return data_[size_ - 1]; }
    void Pop() { --size_; }
    bool Empty() const { return size_ == 0; }

private:
    bool Grow() noexcept {
        if (capacity_ > std::numeric_limits<std::size_t>::max() / (2 * sizeof(Frame))) {
            return false;
        }
        std::size_t capacity = capacity_ * 2;
        auto* data = static_cast<Frame*>(Memory::Allocate(capacity * sizeof(Frame)));
        if (data == nullptr) {
            return false;
        }
        std::memcpy(static_cast<void*>(data), data_, size_ * sizeof(Frame));
        if (data_ != inline_) {
            Memory::Free(data_);
        }
        data_ = data;
        capacity_ = capacity;
        return true;
    }

    Frame inline_[kInline];
    Frame* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInline;
};

bool IsContainer(BindingProperty::Kind kind) {
    return kind == BindingProperty::Kind::Collection || kind == BindingProperty::Kind::Structure;
}

[[noreturn]] void ThrowTooLong() {
    throw std::length_error("vector<T> too long");
}

}  // namespace

// Everything that touches the representation. A friend of BindingProperty.
class BindingPropertyDetail {
public:
    using Kind = BindingProperty::Kind;
    using Payload = BindingProperty::Payload;

    static BindingPropertyArena& ArenaOf(BindingProperty& value) {
        // Only a root can be without an arena; children get their root's.
        if (value.arena_ == nullptr) {
            value.arena_ = BindingPropertyArena::Create();
        }
        return *value.arena_;
    }

    static void InitChild(BindingProperty* slot, BindingPropertyArena* arena) {
        ::new (static_cast<void*>(slot)) BindingProperty();
        slot->arena_ = arena;
        slot->ownsArena_ = false;
    }

    static void Store(BindingProperty& value, Kind kind, Payload payload) {
        value.kind_ = kind;
        value.value_ = payload;
    }

    // Releases the old payload without resetting a root's arena, for setters
    // that made their new payload in the same arena first.
    static void ReleaseOwn(BindingProperty& value) noexcept {
        Kind kind = value.kind_;
        Payload payload = value.value_;
        value.kind_ = Kind::Empty;
        value.value_.u64 = 0;
        if (kind >= Kind::String) {  // empty, bool and numbers hold nothing to release
            ReleasePayload(value.arena_, kind, payload);
        }
    }

    // ---- payload records ----------------------------------------------------

    static BindingBlobRecord* NewBlob(BindingPropertyArena& arena,
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

    static BindingEnumPayload* NewEnum(BindingPropertyArena& arena, BindingEnumPayload payload) {
        auto* record = static_cast<BindingEnumPayload*>(arena.Allocate(sizeof(BindingEnumPayload)));
        *record = payload;
        return record;
    }

    // A collection of `size` empty children, with room for at least that many.
    static BindingCollectionRecord* NewCollection(BindingPropertyArena& arena, std::size_t size) {
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
                InitChild(record->data + i, &arena);
            }
            record->size = static_cast<std::uint32_t>(size);
        }
        return record;
    }

    // Makes room for `needed` elements: exactly that many when `exact`, else at
    // least double, in both cases rounded up to what the block holds.
    // Relocation copies the bits: children hold no pointer to themselves.
    static void Grow(BindingPropertyArena& arena, BindingCollectionRecord& record,
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

    static BindingProperty& AppendChild(BindingPropertyArena& arena,
                                        BindingCollectionRecord& record) {
        if (record.size == record.capacity) {
            Grow(arena, record, std::size_t{record.size} + 1, false);
        }
        BindingProperty* slot = record.data + record.size;
        InitChild(slot, &arena);
        ++record.size;
        return *slot;
    }

    static BindingStructureRecord* NewStructure(BindingPropertyArena& arena) {
        auto* record =
            static_cast<BindingStructureRecord*>(arena.Allocate(sizeof(BindingStructureRecord)));
        record->arena = &arena;
        record->root = nullptr;
        record->count = 0;
        return record;
    }

    // ---- structure tree -----------------------------------------------------

    struct Probe {
        BindingStructureNode* found;
        BindingStructureNode* parent;  // where a missing key would hang
        bool left;
    };

    // Byte-wise, as unsigned characters: char_traits<char>::compare is memcmp.
    static Probe Search(const BindingStructureRecord& record, std::string_view name) {
        Probe probe{nullptr, nullptr, false};
        BindingStructureNode* node = record.root;
        while (node != nullptr) {
            int order = name.compare(node->key->View());
            if (order == 0) {
                probe.found = node;
                return probe;
            }
            probe.parent = node;
            probe.left = order < 0;
            node = probe.left ? node->left : node->right;
        }
        return probe;
    }

    static bool IsRed(const BindingStructureNode* node) {
        return node != nullptr && (node->parentAndRed & 1u) != 0;
    }
    static void SetRed(BindingStructureNode* node, bool red) {
        node->parentAndRed = (node->parentAndRed & ~std::uintptr_t{1}) | (red ? 1u : 0u);
    }
    static void SetParent(BindingStructureNode* node, BindingStructureNode* parent) {
        node->parentAndRed = reinterpret_cast<std::uintptr_t>(parent) | (node->parentAndRed & 1u);
    }

    static void Replace(BindingStructureRecord& record, BindingStructureNode* old,
                        BindingStructureNode* replacement) {
        BindingStructureNode* parent = old->Parent();
        SetParent(replacement, parent);
        if (parent == nullptr) {
            record.root = replacement;
        } else if (parent->left == old) {
            parent->left = replacement;
        } else {
            parent->right = replacement;
        }
    }

    static void RotateLeft(BindingStructureRecord& record, BindingStructureNode* node) {
        BindingStructureNode* pivot = node->right;
        node->right = pivot->left;
        if (pivot->left != nullptr) {
            SetParent(pivot->left, node);
        }
        Replace(record, node, pivot);
        pivot->left = node;
        SetParent(node, pivot);
    }

    static void RotateRight(BindingStructureRecord& record, BindingStructureNode* node) {
        BindingStructureNode* pivot = node->left;
        node->left = pivot->right;
        if (pivot->right != nullptr) {
            SetParent(pivot->right, node);
        }
        Replace(record, node, pivot);
        pivot->right = node;
        SetParent(node, pivot);
    }

    // Hangs a new field under `parent` and rebalances. Takes over the
    // reference on `key`; on failure the reference is released.
    static BindingStructureNode* Insert(BindingStructureRecord& record,
                                        BindingStructureNode* parent, bool left,
                                        const BindingInternedString* key) {
        BindingPropertyArena& arena = *record.arena;
        BindingStructureNode* node;
        try {
            node = static_cast<BindingStructureNode*>(arena.Allocate(sizeof(BindingStructureNode)));
        } catch (...) {
            arena.Release(key);
            throw;
        }
        node->left = nullptr;
        node->right = nullptr;
        node->parentAndRed = reinterpret_cast<std::uintptr_t>(parent) | 1u;
        node->key = key;
        InitChild(&node->value, &arena);
        if (parent == nullptr) {
            record.root = node;
        } else if (left) {
            parent->left = node;
        } else {
            parent->right = node;
        }
        ++record.count;

        BindingStructureNode* current = node;
        while (IsRed(current->Parent())) {
            BindingStructureNode* up = current->Parent();
            BindingStructureNode* grand = up->Parent();  // exists: the root is black
            if (up == grand->left) {
                BindingStructureNode* uncle = grand->right;
                if (IsRed(uncle)) {
                    SetRed(up, false);
                    SetRed(uncle, false);
                    SetRed(grand, true);
                    current = grand;
                    continue;
                }
                if (current == up->right) {
                    current = up;
                    RotateLeft(record, current);
                    up = current->Parent();
                }
                SetRed(up, false);
                SetRed(grand, true);
                RotateRight(record, grand);
            } else {
                BindingStructureNode* uncle = grand->left;
                if (IsRed(uncle)) {
                    SetRed(up, false);
                    SetRed(uncle, false);
                    SetRed(grand, true);
                    current = grand;
                    continue;
                }
                if (current == up->left) {
                    current = up;
                    RotateRight(record, current);
                    up = current->Parent();
                }
                SetRed(up, false);
                SetRed(grand, true);
                RotateLeft(record, grand);
            }
        }
        SetRed(record.root, false);
        return node;
    }

    // Inserts a key known to be greater than every key present (copies walk
    // their source in key order).
    static BindingStructureNode* InsertGreatest(BindingStructureRecord& record,
                                                const BindingInternedString* key) {
        BindingStructureNode* parent = record.root;
        if (parent != nullptr) {
            while (parent->right != nullptr) {
                parent = parent->right;
            }
        }
        return Insert(record, parent, false, key);
    }

    // ---- whole-tree operations ----------------------------------------------

    // Releases a payload and everything below it. Iterative; if the walk's own
    // stack cannot grow, the rest of that subtree is left to the arena, which
    // frees it when it is reset or destroyed.
    static void ReleasePayload(BindingPropertyArena* arena, Kind kind, Payload payload) noexcept {
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
                BindingStructureNode* node = record->root;
                if (node == nullptr) {
                    arena->Deallocate(record, sizeof(BindingStructureRecord));
                    stack.Pop();
                    continue;
                }
                // Rotate left children up until the root has none, then free
                // the root: linear time, no stack, balance no longer matters.
                if (node->left != nullptr) {
                    BindingStructureNode* left = node->left;
                    node->left = left->right;
                    left->right = node;
                    record->root = left;
                    continue;
                }
                record->root = node->right;
                arena->Release(node->key);
                Kind childKind = node->value.kind_;
                Payload childPayload = node->value.value_;
                arena->Deallocate(node, sizeof(BindingStructureNode));
                releaseOne(childKind, childPayload);
            }
        }
    }

    // Fills `target` (empty) with a deep copy of `source`, whose containers
    // belong to another tree. Iterative.
    static void CopyTree(BindingProperty& target, const BindingProperty& source) {
        struct Frame {
            Kind kind;
            std::uint32_t index;
            const void* from;  // collection record, or the next structure node
            void* to;          // the target's collection or structure record
        };
        WalkStack<Frame> stack;
        auto copyOne = [&](BindingProperty& to, const BindingProperty& from) {
            switch (from.kind_) {
                case Kind::Empty:
                    break;
                case Kind::String: {
                    const BindingInternedString* text = from.value_.string;
                    if (text != &BindingInternedString::Empty()) {
                        text = ArenaOf(to).Intern(text->View(), text->Hash());
                    }
                    Store(to, Kind::String, Payload{.string = text});
                    break;
                }
                case Kind::Blob: {
                    auto* blob = static_cast<const BindingBlobRecord*>(from.value_.object);
                    Store(to, Kind::Blob,
                          Payload{.object = NewBlob(ArenaOf(to), {blob->data, blob->size})});
                    break;
                }
                case Kind::Enum:
                    Store(to, Kind::Enum,
                          Payload{.object =
                                      NewEnum(ArenaOf(to), *static_cast<const BindingEnumPayload*>(
                                                               from.value_.object))});
                    break;
                case Kind::Collection: {
                    auto* record = static_cast<const BindingCollectionRecord*>(from.value_.object);
                    BindingCollectionRecord* copy = NewCollection(ArenaOf(to), record->size);
                    Store(to, Kind::Collection, Payload{.object = copy});
                    if (record->size != 0) {
                        stack.Push(Frame{Kind::Collection, 0, record, copy});
                    }
                    break;
                }
                case Kind::Structure: {
                    auto* record = static_cast<const BindingStructureRecord*>(from.value_.object);
                    BindingStructureRecord* copy = NewStructure(ArenaOf(to));
                    Store(to, Kind::Structure, Payload{.object = copy});
                    if (record->root != nullptr) {
                        stack.Push(
                            Frame{Kind::Structure, 0, detail::FirstNode(record->root), copy});
                    }
                    break;
                }
                default:  // bool, signed, unsigned, float
                    Store(to, from.kind_, from.value_);
                    break;
            }
        };
        if (source.ownsArena_ && source.arena_ != nullptr && IsContainer(source.kind_)) {
            // A whole tree: every text of its arena will be needed.
            ArenaOf(target).ReserveStrings(source.arena_->ReadStats().strings);
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
                if (node == nullptr) {
                    stack.Pop();
                    continue;
                }
                frame.from = detail::NextNode(node);
                auto* to = static_cast<BindingStructureRecord*>(frame.to);
                const BindingInternedString* key =
                    to->arena->Intern(node->key->View(), node->key->Hash());
                BindingStructureNode* field = InsertGreatest(*to, key);
                copyOne(field->value, node->value);
            }
        }
    }

    // Whether `needle` is `haystack` or lies anywhere in its tree.
    static bool Contains(const BindingProperty& haystack, const BindingProperty* needle) {
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
    static void AssignFromOtherTree(BindingProperty& target, const BindingProperty& source) {
        Kind kind = source.kind_;
        Payload payload = source.value_;
        switch (kind) {
            case Kind::String: {
                const BindingInternedString* text = payload.string;
                if (text != &BindingInternedString::Empty()) {
                    if (source.arena_ == target.arena_) {
                        BindingPropertyArena::AddRef(text);
                    } else {
                        text = ArenaOf(target).Intern(text->View(), text->Hash());
                    }
                }
                ReleaseOwn(target);
                Store(target, kind, Payload{.string = text});
                return;
            }
            case Kind::Blob: {
                auto* blob = static_cast<const BindingBlobRecord*>(payload.object);
                BindingBlobRecord* copy = NewBlob(ArenaOf(target), {blob->data, blob->size});
                ReleaseOwn(target);
                Store(target, kind, Payload{.object = copy});
                return;
            }
            case Kind::Enum: {
                BindingEnumPayload* copy = NewEnum(
                    ArenaOf(target), *static_cast<const BindingEnumPayload*>(payload.object));
                ReleaseOwn(target);
                Store(target, kind, Payload{.object = copy});
                return;
            }
            case Kind::Collection:
            case Kind::Structure:
                target.Clear();
                CopyTree(target, source);
                return;
            default:  // empty and scalars: read before Clear, which may free the source
                target.Clear();
                Store(target, kind, payload);
                return;
        }
    }

    static void Accept(const BindingProperty& root, BindingPropertyVisitor& visitor) {
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
                    stack.Push(Frame{Kind::Structure, false, 0, detail::FirstNode(record->root)});
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
                    node = detail::NextNode(node);
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

    static bool Equal(const BindingProperty& a, const BindingProperty& b) {
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
                    stack.Push(Frame{Kind::Structure, 0, detail::FirstNode(xr->root),
                                     detail::FirstNode(yr->root)});
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
                frame.left = detail::NextNode(xn);
                frame.right = detail::NextNode(yn);
                if (xn->key->View() != yn->key->View() || !equalOne(xn->value, yn->value)) {
                    return false;
                }
            }
        }
        return true;
    }

    // value becomes {"error": message}. The message is copied before the old
    // content goes, so it may come from the value itself.
    static void MakeError(BindingProperty& value, std::string_view message) {
        value.SetString(message);
        const BindingInternedString* text = value.value_.string;
        value.kind_ = Kind::Empty;  // the reference moves into the field below
        value.value_.u64 = 0;
        BindingProperty* field;
        try {
            field = &value.Field("error");
        } catch (...) {
            if (text != &BindingInternedString::Empty()) {
                value.arena_->Release(text);
            }
            throw;
        }
        Store(*field, Kind::String, Payload{.string = text});
    }
};

// ---- construction and lifetime ----------------------------------------------

const char* BindingProperty::KindName(Kind kind) {
    static constexpr const char* kNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                             "string", "blob", "enum",   "collection", "structure"};
    auto index = static_cast<std::size_t>(kind);
    return index < std::size(kNames) ? kNames[index] : "";
}

BindingProperty::~BindingProperty() {
    if (ownsArena_) {
        // The arena holds the whole tree: dropping it frees everything at once.
        BindingPropertyArena::Destroy(arena_);
    } else {
        BindingPropertyDetail::ReleaseOwn(*this);
    }
}

BindingProperty::BindingProperty(const BindingProperty& other) {
    BindingPropertyDetail::CopyTree(*this, other);
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
    if (other.ownsArena_) {
        value_ = other.value_;
        arena_ = other.arena_;
        kind_ = other.kind_;
        other.value_.u64 = 0;
        other.arena_ = nullptr;
        other.kind_ = Kind::Empty;
        return;
    }
    BindingPropertyDetail::CopyTree(*this, other);
    other.Clear();
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
    if (this == &other) {
        return *this;
    }
    if (arena_ != nullptr && arena_ == other.arena_ && IsContainer(other.kind_)) {
        // Within one tree the source may contain the target or the reverse:
        // copy it out first.
        BindingProperty copy(other);
        BindingPropertyDetail::AssignFromOtherTree(*this, copy);
    } else {
        BindingPropertyDetail::AssignFromOtherTree(*this, other);
    }
    return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    if (ownsArena_ && other.ownsArena_) {
        std::swap(value_, other.value_);
        std::swap(arena_, other.arena_);
        std::swap(kind_, other.kind_);
        other.Clear();
        return *this;
    }
    if (arena_ == nullptr || arena_ != other.arena_) {
        *this = other;
        other.Clear();
        return *this;
    }
    // Both in one tree.
    if (BindingPropertyDetail::Contains(other, this)) {
        other.Clear();  // the target goes with its source
        return *this;
    }
    // The source does not hold the target (checked above), so clearing it
    // leaves the target alive, even when the target holds the source.
    BindingProperty copy(other);
    other.Clear();
    *this = std::move(copy);
    return *this;
}

const BindingProperty& BindingProperty::EmptyValue() {
    return kEmptyValue;
}

std::size_t BindingProperty::Size() const {
    switch (kind_) {
        case Kind::Empty:
            return 0;
        case Kind::String:
            return value_.string->Size();
        case Kind::Blob:
            return static_cast<const BindingBlobRecord*>(value_.object)->size;
        case Kind::Collection:
            return static_cast<const BindingCollectionRecord*>(value_.object)->size;
        case Kind::Structure:
            return static_cast<const BindingStructureRecord*>(value_.object)->count;
        default:
            return 1;
    }
}

void BindingProperty::Clear() {
    if (ownsArena_) {
        if (arena_ != nullptr) {
            arena_->Reset();
        }
        kind_ = Kind::Empty;
        value_.u64 = 0;
    } else {
        BindingPropertyDetail::ReleaseOwn(*this);
    }
}

// ---- setters ------------------------------------------------------------------

void BindingProperty::SetBool(bool value) {
    Clear();
    kind_ = Kind::Bool;
    value_.boolean = value;
}

void BindingProperty::SetSigned(std::int32_t value) {
    SetSigned(std::int64_t{value});
}

void BindingProperty::SetSigned(std::int64_t value) {
    Clear();
    kind_ = Kind::Signed;
    value_.i64 = value;
}

void BindingProperty::SetUnsigned(std::uint32_t value) {
    SetUnsigned(std::uint64_t{value});
}

void BindingProperty::SetUnsigned(std::uint64_t value) {
    Clear();
    kind_ = Kind::Unsigned;
    value_.u64 = value;
}

void BindingProperty::SetFloat(double value) {
    Clear();
    kind_ = Kind::Float;
    value_.f64 = value;
}

void BindingProperty::SetString(const char* text) {
    SetString(text == nullptr ? std::string_view{} : std::string_view{text});
}

void BindingProperty::SetString(std::string_view text) {
    const BindingInternedString* record = &BindingInternedString::Empty();
    if (!text.empty()) {
        record = BindingPropertyDetail::ArenaOf(*this).Intern(text);
    }
    BindingPropertyDetail::ReleaseOwn(*this);
    kind_ = Kind::String;
    value_.string = record;
}

void BindingProperty::SetBlob(std::span<const std::uint8_t> bytes) {
    detail::BindingBlobRecord* record =
        BindingPropertyDetail::NewBlob(BindingPropertyDetail::ArenaOf(*this), bytes);
    BindingPropertyDetail::ReleaseOwn(*this);
    kind_ = Kind::Blob;
    value_.object = record;
}

void BindingProperty::SetBlob(std::vector<std::uint8_t>&& bytes) {
    SetBlob(std::span<const std::uint8_t>(bytes));
    std::vector<std::uint8_t>().swap(bytes);
}

void BindingProperty::SetEnum(std::int32_t value, const StaticType& type) {
    Clear();
    value_.object = BindingPropertyDetail::NewEnum(BindingPropertyDetail::ArenaOf(*this),
                                                   BindingEnumPayload{value, &type});
    kind_ = Kind::Enum;
}

void BindingProperty::MakeCollection() {
    if (kind_ == Kind::Collection) {
        return;
    }
    Clear();
    value_.object = BindingPropertyDetail::NewCollection(BindingPropertyDetail::ArenaOf(*this), 0);
    kind_ = Kind::Collection;
}

void BindingProperty::MakeStructure() {
    if (kind_ == Kind::Structure) {
        return;
    }
    Clear();
    value_.object = BindingPropertyDetail::NewStructure(BindingPropertyDetail::ArenaOf(*this));
    kind_ = Kind::Structure;
}

// ---- getters ------------------------------------------------------------------

std::span<const std::uint8_t> BindingProperty::GetBlob() const& {
    if (kind_ != Kind::Blob) {
        return {};
    }
    auto* record = static_cast<const BindingBlobRecord*>(value_.object);
    return {record->data, record->size};
}

BindingEnumPayload BindingProperty::GetEnum(BindingEnumPayload fallback) const {
    return kind_ == Kind::Enum ? *static_cast<const BindingEnumPayload*>(value_.object) : fallback;
}

std::int64_t BindingProperty::AsInt64(std::int64_t fallback) const {
    switch (kind_) {
        case Kind::Bool:
            return value_.boolean ? 1 : 0;
        case Kind::Signed:
        case Kind::Unsigned:
            return value_.i64;
        case Kind::Float: {
            // A cast outside the range is undefined: saturate, and NaN is no number.
            double value = value_.f64;
            if (std::isnan(value)) {
                return fallback;
            }
            if (value >= 9223372036854775808.0) {
                return std::numeric_limits<std::int64_t>::max();
            }
            if (value < -9223372036854775808.0) {
                return std::numeric_limits<std::int64_t>::min();
            }
            return static_cast<std::int64_t>(value);
        }
        case Kind::String:
            return std::strtoll(value_.string->CStr(), nullptr, 0);
        case Kind::Enum:
            return static_cast<const BindingEnumPayload*>(value_.object)->value;
        default:
            return fallback;
    }
}

// ---- collections ----------------------------------------------------------------

const BindingProperty& BindingProperty::ElementAt(std::size_t index) const& {
    if (kind_ != Kind::Collection) {
        return kEmptyValue;
    }
    auto* record = static_cast<const BindingCollectionRecord*>(value_.object);
    return index < record->size ? record->data[index] : kEmptyValue;
}

BindingProperty& BindingProperty::Element(std::size_t index) & {
    MakeCollection();
    auto* record = static_cast<BindingCollectionRecord*>(value_.object);
    if (index >= record->size) {
        if (index >= kMaxElements) {
            ThrowTooLong();
        }
        if (index >= record->capacity) {
            BindingPropertyDetail::Grow(*arena_, *record, index + 1, false);
        }
        for (std::size_t i = record->size; i <= index; ++i) {
            BindingPropertyDetail::InitChild(record->data + i, arena_);
        }
        record->size = static_cast<std::uint32_t>(index + 1);
    }
    return record->data[index];
}

BindingProperty& BindingProperty::Append() & {
    MakeCollection();
    return BindingPropertyDetail::AppendChild(
        *arena_, *static_cast<BindingCollectionRecord*>(value_.object));
}

void BindingProperty::Reserve(std::size_t count) {
    if (kind_ != Kind::Collection) {
        return;
    }
    if (count > kMaxElements) {
        ThrowTooLong();
    }
    auto* record = static_cast<BindingCollectionRecord*>(value_.object);
    if (count > record->capacity) {
        BindingPropertyDetail::Grow(*arena_, *record, count, true);
    }
}

std::span<BindingProperty> BindingProperty::Elements() & {
    if (kind_ != Kind::Collection) {
        return {};
    }
    auto* record = static_cast<BindingCollectionRecord*>(value_.object);
    return {record->data, record->size};
}

// ---- structures -----------------------------------------------------------------

const BindingProperty& BindingProperty::Find(std::string_view name) const& {
    if (kind_ != Kind::Structure) {
        return kEmptyValue;
    }
    auto probe = BindingPropertyDetail::Search(
        *static_cast<const BindingStructureRecord*>(value_.object), name);
    return probe.found != nullptr ? probe.found->value : kEmptyValue;
}

BindingProperty& BindingProperty::Field(std::string_view name) & {
    if (kind_ == Kind::Structure) {
        auto& record = *static_cast<BindingStructureRecord*>(value_.object);
        auto probe = BindingPropertyDetail::Search(record, name);
        if (probe.found != nullptr) {
            return probe.found->value;
        }
        return BindingPropertyDetail::Insert(record, probe.parent, probe.left, arena_->Intern(name))
            ->value;
    }
    // The name may point into the payload about to go: intern it first.
    BindingPropertyArena& arena = BindingPropertyDetail::ArenaOf(*this);
    const BindingInternedString* key = arena.Intern(name);
    BindingStructureRecord* record;
    try {
        record = BindingPropertyDetail::NewStructure(arena);
    } catch (...) {
        arena.Release(key);
        throw;
    }
    BindingPropertyDetail::ReleaseOwn(*this);
    kind_ = Kind::Structure;
    value_.object = record;
    return BindingPropertyDetail::Insert(*record, nullptr, false, key)->value;
}

void BindingProperty::Accept(BindingPropertyVisitor& visitor) const {
    BindingPropertyDetail::Accept(*this, visitor);
}

bool operator==(const BindingProperty& a, const BindingProperty& b) {
    return BindingPropertyDetail::Equal(a, b);
}

// ---- BindingResult ----------------------------------------------------------------

BindingResult& BindingResult::operator=(BindingResult&& other) noexcept {
    ok_ = other.ok_;
    value_ = std::move(other.value_);
    return *this;
}

void BindingResult::SetOk() {
    value_.Clear();
    ok_ = true;
}

void BindingResult::Fail(std::string_view message) {
    ok_ = false;
    BindingPropertyDetail::MakeError(value_, message);
}

std::string_view BindingResult::ErrorMessage() const {
    if (ok_) {
        return BindingInternedString::Empty().View();
    }
    const BindingProperty& error = value_.Find("error");
    return error.GetKind() == BindingProperty::Kind::String ? error.GetString()
                                                            : BindingInternedString::Empty().View();
}

}  // namespace Tavo
