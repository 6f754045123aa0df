#pragma once
// The dynamic value of the system: a tagged union of ten kinds.
//
// Ownership: a value constructed on its own (a local, a native struct's field,
// an element of a native std::vector) is a root: it owns the arena that holds
// its tree's non-scalar payloads, created on first need and destroyed with the
// root. Elements of a collection and field values of a structure are children:
// they share their root's arena (ownsArena false) and never outlive it.
// Strings and structure keys are interned per arena.
//
// Threading: a tree and its arena are used by one thread at a time. The page
// source behind all arenas is process-wide and locked. The shared static empty
// values are read-only.
//
// Depth: Clear, copy and Accept are safe on trees thousands of levels deep.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/StaticType.h"

// Views and references returned into a value (texts, elements, fields) have
// deleted overloads on temporaries, so a view can never outlive its tree by a
// full expression.

namespace Tavo {

class BindingPropertyArena;
class BindingPropertyVisitor;
namespace detail {
class BindingPropertyAccess;
struct BindingPropertyWalks;
}  // namespace detail

// An interned text: NUL-terminated, length-delimited (may hold NUL bytes from
// MessagePack or YAML), with its FNV-1a-32 hash. Owned by an arena's intern
// table and reference counted by the values that use it; the empty text is
// one shared static record that is never counted.
class BindingInternedString {
public:
    std::string_view View() const { return {data_, size_}; }
    const char* CStr() const { return data_; }
    std::size_t Size() const { return size_; }
    // Computed on first use (most texts never need it) and kept; 0 stands
    // for not yet computed, so a text whose hash is 0 computes it each time.
    // Relaxed atomic: threads reading one tree may race to store the same
    // value.
    std::uint32_t Hash() const {
        std::uint32_t hash = hash_.load(std::memory_order_relaxed);
        if (hash == 0) {
            hash = Fnv1a32(View());
            hash_.store(hash, std::memory_order_relaxed);
        }
        return hash;
    }

    // The shared empty record.
    static const BindingInternedString& Empty();

private:
    friend class BindingPropertyArena;
    BindingInternedString() = default;
    const char* data_ = "";
    std::size_t size_ = 0;
    mutable std::atomic<std::uint32_t> hash_{kFnvOffsetBasis};
    std::uint32_t refCount_ = 0;
};

// The payload of an enum value: the number and the native enum's identity,
// through which the registry turns it back into a name.
struct BindingEnumPayload {
    std::int32_t value = 0;
    const StaticType* type = nullptr;
};

// Aligned to 8 so native structs holding one lay it out as the host expects
// (16 bytes, on an 8-byte boundary, on 32-bit builds too).
class alignas(8) BindingProperty {
public:
    enum class Kind : std::uint8_t {
        Empty = 0,
        Bool = 1,
        Signed = 2,
        Unsigned = 3,
        Float = 4,
        String = 5,
        Blob = 6,
        Enum = 7,
        Collection = 8,
        Structure = 9,
    };
    // "empty", "bool", ..., "structure"; "" for a tag outside 0..9.
    static const char* KindName(Kind kind);

    // Construction makes a root (ownsArena true), empty.
    BindingProperty() = default;
    ~BindingProperty();
    // Deep copy into a new root.
    BindingProperty(const BindingProperty& other);
    // From a root: takes over its tree and arena in constant time; from a
    // child: deep copy. The source is left empty.
    BindingProperty(BindingProperty&& other) noexcept;
    // Deep copy; the target keeps its ownsArena. Self-assignment does nothing.
    BindingProperty& operator=(const BindingProperty& other);
    // Root to root: constant-time swap, then the source is cleared. Otherwise
    // deep copy, then the source is cleared.
    BindingProperty& operator=(BindingProperty&& other) noexcept;

    // The shared static empty value returned by failed lookups.
    static const BindingProperty& EmptyValue();

    Kind GetKind() const { return kind_; }
    bool IsEmpty() const { return kind_ == Kind::Empty; }
    bool OwnsArena() const { return ownsArena_; }
    // Whether the tree has an arena yet (a root creates it on first need).
    bool HasArena() const { return arena_ != nullptr; }
    // empty 0; string bytes; blob bytes; collection elements; structure
    // fields; any other kind 1.
    std::size_t Size() const;

    // Releases the payload and makes the value empty; the arena stays. On a
    // root this frees the whole arena's contents at once.
    void Clear();

    // Setters: Clear, then store. The arena is created when a payload needs it.
    // Texts and bytes are copied before the old payload goes, so they may
    // point into this very tree.
    void SetBool(bool value);
    void SetSigned(std::int32_t value);  // sign-extended
    void SetSigned(std::int64_t value);
    void SetUnsigned(std::uint32_t value);  // zero-extended
    void SetUnsigned(std::uint64_t value);
    void SetFloat(double value);
    void SetString(const char* text);  // NUL-terminated; null counts as ""
    void SetString(std::string_view text);
    void SetBlob(std::span<const std::uint8_t> bytes);  // copies
    // Takes over: the bytes move into the tree's arena and the source is
    // left empty, its storage released.
    void SetBlob(std::vector<std::uint8_t>&& bytes);
    void SetEnum(std::int32_t value, const StaticType& type);
    // Leave an existing collection (structure) unchanged; otherwise Clear and
    // install an empty one.
    void MakeCollection();
    void MakeStructure();

    // Strict getters: the payload only when the kind matches exactly.
    bool GetBool(bool fallback = false) const;
    std::int64_t GetSigned(std::int64_t fallback = 0) const;
    std::uint64_t GetUnsigned(std::uint64_t fallback = 0) const;
    double GetFloat(double fallback = 0.0) const;
    // The text of a string value (valid while the value holds it), or fallback.
    std::string_view GetString(std::string_view fallback = {}) const&;
    std::string_view GetString(std::string_view fallback = {}) const&& = delete;
    // The interned record of a string value, or the shared empty record.
    const BindingInternedString& GetInternedString() const&;
    const BindingInternedString& GetInternedString() const&& = delete;
    std::span<const std::uint8_t> GetBlob() const&;  // empty span unless a blob
    std::span<const std::uint8_t> GetBlob() const&& = delete;
    BindingEnumPayload GetEnum(BindingEnumPayload fallback = {}) const;

    // Lenient reading: bool 1/0; integers unchanged; float truncated toward
    // zero (saturated outside the 64-bit range, NaN gives `fallback`); string
    // by strtoll with base 0 (longest prefix, 0 when none, saturated on
    // overflow); enum its value; every other kind `fallback`.
    std::int64_t AsInt64(std::int64_t fallback = 0) const;

    // Collections.
    // The element at `index`, or EmptyValue() when out of range or not a collection.
    const BindingProperty& ElementAt(std::size_t index) const&;
    const BindingProperty& ElementAt(std::size_t index) const&& = delete;
    // MakeCollection, grow with empty elements until `index` exists, return it.
    BindingProperty& Element(std::size_t index) &;
    BindingProperty& Element(std::size_t index) && = delete;
    // MakeCollection, append one empty element, return it.
    BindingProperty& Append() &;
    BindingProperty& Append() && = delete;
    // On a collection: make room for `count` elements. Throws std::length_error
    // ("vector<T> too long") above kMaxElements. Other kinds: nothing. Element
    // and Append throw the same when a collection would outgrow kMaxElements.
    static constexpr std::size_t kMaxElements = 0x0FFFFFFF;
    void Reserve(std::size_t count);
    // The elements of a collection (empty for other kinds). References into
    // the collection are invalidated when it grows.
    std::span<const BindingProperty> Elements() const&;
    std::span<BindingProperty> Elements() &;
    std::span<const BindingProperty> Elements() const&& = delete;

    // Structures. Fields are ordered by their names compared byte by byte as
    // unsigned characters; keys are unique.
    // The field named `name`, or EmptyValue(). Never allocates.
    const BindingProperty& Find(std::string_view name) const&;
    const BindingProperty& Find(std::string_view name) const&& = delete;
    // MakeStructure; the field named `name`, inserted empty if missing.
    BindingProperty& Field(std::string_view name) &;
    BindingProperty& Field(std::string_view name) && = delete;

    struct FieldRef {
        const BindingInternedString& key;
        const BindingProperty& value;
    };
    class FieldIterator;
    class FieldRange;
    // Iterates (key, value) in ascending byte order of keys; empty range for
    // other kinds. Invalidated by inserting or removing fields.
    FieldRange Fields() const&;
    FieldRange Fields() const&& = delete;

    // Calls the visitor's operations for this value and, recursively, its
    // children, in index and key order. A kind outside 0..9 calls nothing.
    // The tree must not change while it is visited.
    void Accept(BindingPropertyVisitor& visitor) const;

    // Deep equality: same kinds and payloads, elements in order, the same
    // field names with equal values. Floats compare by bit pattern (a NaN
    // equals the same NaN); enums by value and type record.
    friend bool operator==(const BindingProperty& a, const BindingProperty& b);

private:
    friend class BindingPropertyArena;
    friend class detail::BindingPropertyAccess;
    // Element and Append when the collection must be made or grown.
    BindingProperty& GrowElement(std::size_t index);
    BindingProperty& AppendSlow();
    // Makes this raw slot of a collection with room for it an empty child.
    static BindingProperty& InitChildAt(BindingProperty* slot, BindingPropertyArena* arena) {
        ::new (static_cast<void*>(slot)) BindingProperty();
        slot->arena_ = arena;
        slot->ownsArena_ = false;
        return *slot;
    }

    friend struct detail::BindingPropertyWalks;

    union Payload {
        bool boolean;
        std::int64_t i64;
        std::uint64_t u64;
        double f64;
        const BindingInternedString* string;
        void* object;  // blob, enum, collection or structure record in the arena
    };

    Payload value_{.u64 = 0};
    BindingPropertyArena* arena_ = nullptr;
    Kind kind_ = Kind::Empty;
    bool ownsArena_ = true;
};

static_assert(alignof(BindingProperty) == 8);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingProperty) == 16);
#else
static_assert(sizeof(BindingProperty) == 24);
#endif

// Visits a tree kind by kind. Slot order is fixed.
class BindingPropertyVisitor {
public:
    virtual ~BindingPropertyVisitor() = default;
    virtual void VisitEmpty() = 0;
    virtual void VisitBool(bool value) = 0;
    virtual void VisitSigned(std::int64_t value) = 0;
    virtual void VisitUnsigned(std::uint64_t value) = 0;
    virtual void VisitFloat(double value) = 0;
    virtual void VisitString(const BindingInternedString& value) = 0;
    virtual void VisitBlob(std::span<const std::uint8_t> bytes) = 0;
    virtual void VisitEnum(const BindingEnumPayload& value) = 0;
    virtual void BeginCollection(std::size_t count) = 0;
    virtual void BeginElement(std::size_t index) = 0;
    virtual void EndElement(std::size_t index) = 0;
    virtual void EndCollection() = 0;
    virtual void BeginStructure(std::size_t count) = 0;
    virtual void BeginField(const BindingInternedString& key) = 0;
    virtual void EndField(const BindingInternedString& key) = 0;
    virtual void EndStructure() = 0;
};

// A value plus a success flag. Failure lives inside the value: the structure
// {"error": message}.
class [[nodiscard]] BindingResult {
public:
    BindingResult() = default;
    BindingResult(BindingResult&& other) noexcept = default;
    // Copies ok, then moves the value (root-to-root swap).
    BindingResult& operator=(BindingResult&& other) noexcept;

    bool IsOk() const { return ok_; }
    // Clear the value and set ok.
    void SetOk();
    // Clear, set not ok, then Field("error").SetString(message).
    void Fail(std::string_view message);
    // "" when ok; else the "error" field's text when it is a string, else "".
    std::string_view ErrorMessage() const;

    BindingProperty& Value() { return value_; }
    const BindingProperty& Value() const { return value_; }

private:
    BindingProperty value_;
    bool ok_ = true;
};

}  // namespace Tavo

#include "binding/detail/BindingPropertyIterators.h"

namespace Tavo {

// The getters every reader, writer and converter calls per value, inline.

inline bool BindingProperty::GetBool(bool fallback) const {
    return kind_ == Kind::Bool ? value_.boolean : fallback;
}

inline std::int64_t BindingProperty::GetSigned(std::int64_t fallback) const {
    return kind_ == Kind::Signed ? value_.i64 : fallback;
}

inline std::uint64_t BindingProperty::GetUnsigned(std::uint64_t fallback) const {
    return kind_ == Kind::Unsigned ? value_.u64 : fallback;
}

inline double BindingProperty::GetFloat(double fallback) const {
    return kind_ == Kind::Float ? value_.f64 : fallback;
}

inline std::string_view BindingProperty::GetString(std::string_view fallback) const& {
    return kind_ == Kind::String ? value_.string->View() : fallback;
}

inline const BindingInternedString& BindingProperty::GetInternedString() const& {
    return kind_ == Kind::String ? *value_.string : BindingInternedString::Empty();
}

inline std::span<const BindingProperty> BindingProperty::Elements() const& {
    if (kind_ != Kind::Collection) {
        return {};
    }
    auto* record = static_cast<const detail::BindingCollectionRecord*>(value_.object);
    return {record->data, record->size};
}

// Element and Append run once per item a reader reads: the common case,
// a collection with room, is inline.
inline BindingProperty& BindingProperty::Element(std::size_t index) & {
    if (kind_ == Kind::Collection) {
        auto* record = static_cast<detail::BindingCollectionRecord*>(value_.object);
        if (index < record->size) {
            return record->data[index];
        }
        if (index == record->size && index < record->capacity) {
            ++record->size;
            return InitChildAt(record->data + index, arena_);
        }
    }
    return GrowElement(index);
}

inline BindingProperty& BindingProperty::Append() & {
    if (kind_ == Kind::Collection) {
        auto* record = static_cast<detail::BindingCollectionRecord*>(value_.object);
        if (record->size < record->capacity) {
            return InitChildAt(record->data + record->size++, arena_);
        }
    }
    return AppendSlow();
}

inline BindingProperty::FieldRange BindingProperty::Fields() const& {
    if (kind_ != Kind::Structure) {
        return {};
    }
    auto* record = static_cast<const detail::BindingStructureRecord*>(value_.object);
    return FieldRange(record->root, record->count);
}

}  // namespace Tavo
