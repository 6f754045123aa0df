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
#include "detail/BindingPropertyAccess.h"

namespace Tavo {

using detail::BindingBlobRecord;
using detail::BindingCollectionRecord;
using detail::BindingStructureNode;
using detail::BindingStructureRecord;
using Access = detail::BindingPropertyAccess;
using Records = detail::BindingPropertyRecords;
using Walks = detail::BindingPropertyWalks;

namespace {

constinit const BindingProperty kEmptyValue;

// A scalar setter's Clear: a child without a payload in the arena (empty,
// bool, a number) has nothing to release, and readers set millions of them.
inline void ClearBeforeScalar(BindingProperty& value) {
    if (value.OwnsArena() || value.GetKind() >= BindingProperty::Kind::String) {
        value.Clear();
    }
}

bool IsContainer(BindingProperty::Kind kind) {
    return kind == BindingProperty::Kind::Collection || kind == BindingProperty::Kind::Structure;
}

}  // namespace

// ---- representation -----------------------------------------------------------

namespace detail {

// value becomes {"error": message}. The message is copied before the old
// content goes, so it may come from the value itself.
void BindingPropertyAccess::MakeError(BindingProperty& value, std::string_view message) {
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

}  // namespace detail

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
        Access::ReleaseOwn(*this);
    }
}

BindingProperty::BindingProperty(const BindingProperty& other) {
    try {
        Walks::CopyTree(*this, other);
    } catch (...) {
        // No destructor runs for a constructor that throws: the arena the
        // copy made would be lost with everything in it.
        BindingPropertyArena::Destroy(arena_);
        throw;
    }
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
    Walks::CopyTree(*this, other);
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
        Walks::AssignFromOtherTree(*this, copy);
    } else {
        Walks::AssignFromOtherTree(*this, other);
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
    if (Walks::Contains(other, this)) {
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
        Access::ReleaseOwn(*this);
    }
}

// ---- setters ------------------------------------------------------------------

void BindingProperty::SetBool(bool value) {
    ClearBeforeScalar(*this);
    kind_ = Kind::Bool;
    value_.boolean = value;
}

void BindingProperty::SetSigned(std::int32_t value) {
    SetSigned(std::int64_t{value});
}

void BindingProperty::SetSigned(std::int64_t value) {
    ClearBeforeScalar(*this);
    kind_ = Kind::Signed;
    value_.i64 = value;
}

void BindingProperty::SetUnsigned(std::uint32_t value) {
    SetUnsigned(std::uint64_t{value});
}

void BindingProperty::SetUnsigned(std::uint64_t value) {
    ClearBeforeScalar(*this);
    kind_ = Kind::Unsigned;
    value_.u64 = value;
}

void BindingProperty::SetFloat(double value) {
    ClearBeforeScalar(*this);
    kind_ = Kind::Float;
    value_.f64 = value;
}

void BindingProperty::SetString(const char* text) {
    SetString(text == nullptr ? std::string_view{} : std::string_view{text});
}

void BindingProperty::SetString(std::string_view text) {
    const BindingInternedString* record = &BindingInternedString::Empty();
    if (!text.empty()) {
        record = Access::ArenaOf(*this).Intern(text);
    }
    Access::ReleaseOwn(*this);
    kind_ = Kind::String;
    value_.string = record;
}

void BindingProperty::SetBlob(std::span<const std::uint8_t> bytes) {
    detail::BindingBlobRecord* record = Records::NewBlob(Access::ArenaOf(*this), bytes);
    Access::ReleaseOwn(*this);
    kind_ = Kind::Blob;
    value_.object = record;
}

void BindingProperty::SetBlob(std::vector<std::uint8_t>&& bytes) {
    SetBlob(std::span<const std::uint8_t>(bytes));
    std::vector<std::uint8_t>().swap(bytes);
}

void BindingProperty::SetEnum(std::int32_t value, const StaticType& type) {
    Clear();
    value_.object = Records::NewEnum(Access::ArenaOf(*this), BindingEnumPayload{value, &type});
    kind_ = Kind::Enum;
}

void BindingProperty::MakeCollection() {
    if (kind_ == Kind::Collection) {
        return;
    }
    Clear();
    value_.object = Records::NewCollection(Access::ArenaOf(*this), 0);
    kind_ = Kind::Collection;
}

void BindingProperty::MakeStructure() {
    if (kind_ == Kind::Structure) {
        return;
    }
    Clear();
    value_.object = Records::NewStructure(Access::ArenaOf(*this));
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

BindingProperty& BindingProperty::GrowElement(std::size_t index) {
    MakeCollection();
    auto* record = static_cast<BindingCollectionRecord*>(value_.object);
    if (index >= record->size) {
        if (index >= kMaxElements) {
            Records::ThrowTooLong();
        }
        if (index >= record->capacity) {
            Records::Grow(*arena_, *record, index + 1, false);
        }
        for (std::size_t i = record->size; i <= index; ++i) {
            Access::InitChild(record->data + i, arena_);
        }
        record->size = static_cast<std::uint32_t>(index + 1);
    }
    return record->data[index];
}

BindingProperty& BindingProperty::AppendSlow() {
    MakeCollection();
    return Records::AppendChild(*arena_, *static_cast<BindingCollectionRecord*>(value_.object));
}

void BindingProperty::Reserve(std::size_t count) {
    if (kind_ != Kind::Collection) {
        return;
    }
    if (count > kMaxElements) {
        Records::ThrowTooLong();
    }
    auto* record = static_cast<BindingCollectionRecord*>(value_.object);
    if (count > record->capacity) {
        Records::Grow(*arena_, *record, count, true);
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
    auto probe =
        Records::FindField(*static_cast<const BindingStructureRecord*>(value_.object), name);
    return probe.found != nullptr ? probe.found->value : kEmptyValue;
}

BindingProperty& BindingProperty::Field(std::string_view name) & {
    if (kind_ == Kind::Structure) {
        auto& record = *static_cast<BindingStructureRecord*>(value_.object);
        auto probe = Records::FindField(record, name);
        if (probe.found != nullptr) {
            return probe.found->value;
        }
        return Records::AddField(record, probe, arena_->Intern(name))->value;
    }
    // The name may point into the payload about to go: intern it first.
    BindingPropertyArena& arena = Access::ArenaOf(*this);
    const BindingInternedString* key = arena.Intern(name);
    BindingStructureRecord* record;
    try {
        record = Records::NewStructure(arena);
    } catch (...) {
        arena.Release(key);
        throw;
    }
    Access::ReleaseOwn(*this);
    kind_ = Kind::Structure;
    value_.object = record;
    return Records::AddField(*record, detail::FieldTree::Probe{nullptr, nullptr, false}, key)
        ->value;
}

void BindingProperty::Accept(BindingPropertyVisitor& visitor) const {
    Walks::Accept(*this, visitor);
}

bool operator==(const BindingProperty& a, const BindingProperty& b) {
    return Walks::Equal(a, b);
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
    Access::MakeError(value_, message);
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
