#pragma once
// The type registry: descriptors of the native structs, enums and events a
// plugin makes visible to the dynamic world and to the host.
//
// Registration is declarative and idempotent: declaring a name that is
// already registered returns a failed builder, which silently drops every
// field, value, tag and description added through it.
//
//   registry.DeclareEnum<LoginSessionState>("LoginSessionStates")
//       .AddValue("IN_PROGRESS", 0)
//       .AddValue("SUCCEEDED", 1);
//   registry.DeclareStruct<LoginSession>("LoginSession")
//       .AddField("state", &LoginSession::state)
//       .AddField("summonerId", &LoginSession::summonerId);
//
// Field offsets, native kinds, type info and converters are deduced from the
// member pointers. A struct, enum or element type a field refers to should be
// declared before the field is added, so the field records its descriptor;
// conversions still find a type declared later by its id.
//
// Ownership: the registry owns every descriptor, field, value and event;
// pointers to them stay valid until the registry is destroyed.
// Threading: each lookup and each insertion takes the registry's mutex for
// its own duration. Registration (builders) runs on the thread that starts
// the module, before conversions; afterwards descriptors are read-only and
// read without the lock.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"
#include "binding/NativeTraits.h"
#include "binding/StaticType.h"

namespace Tavo {

class BindingRegistry;
struct BindingTypeDescriptor;

// Names a native type in a DescribeBinding overload (see BindingRegistry::Register).
template <class T>
struct BindingTag {};

// Converts one native type between its memory and a BindingProperty. One
// object per registered field, owned by the field. Slot order is fixed:
// FromProperty, ToProperty, destructor.
class BindingConverter {
public:
    // Writes `input` into the native value at `target`, reporting the first
    // failure into `context`; does nothing when `context` has already failed.
    // `descriptor` is the one named by the field's type info (or null).
    virtual void FromProperty(BindingResult& context, void* target, const BindingProperty& input,
                              std::string_view path, const BindingTypeDescriptor* descriptor,
                              const BindingRegistry& registry) const = 0;
    // Sets `output` ok and stores the native value at `source` into it, or
    // fails `output`.
    virtual void ToProperty(BindingResult& output, const void* source,
                            const BindingTypeDescriptor* descriptor,
                            const BindingRegistry& registry) const = 0;
    virtual ~BindingConverter() = default;
};

// The converter of native type M, generated per type (binding/Converters.h).
template <class M>
class TypedBindingConverter;

struct BindingFieldDescriptor {
    std::string name;
    std::uint32_t nameHash = 0;  // FNV-1a-32 of name
    std::string description;
    const StaticType* staticType = nullptr;  // the field's native type
    std::uint32_t offset = 0;                // inside the native struct
    BindingTypeInfo typeInfo;
    // Zero unless given with a non-zero kind; when set, the export of the
    // field takes its kinds and referenced type from here.
    BindingTypeInfo overrideTypeInfo;
    std::uint32_t flags = 0;  // kBindingOmitWhenDefault, kBindingRequired
    std::unique_ptr<BindingConverter> converter;
    const BindingTypeDescriptor* owner = nullptr;
    bool optional = false;  // exported to the host as the field's optional flag
};

struct BindingEnumValue {
    std::int32_t value = 0;
    std::string name;
    std::string description;
    const BindingTypeDescriptor* owner = nullptr;
};

struct BindingTypeDescriptor {
    std::uint32_t size = 0;  // native size in bytes
    bool isEnum = false;
    std::string name;  // registered name
    std::uint32_t typeId = 0;
    const StaticType* staticType = nullptr;
    std::string nameSpace;
    std::string description;
    std::vector<std::string> tags;               // in the order added
    std::vector<BindingFieldDescriptor> fields;  // structs: in registration order
    // Enums: by name, ordered byte-wise (the order of strcmp).
    std::map<std::string, BindingEnumValue, std::less<>> values;
    BindingRegistry* registry = nullptr;

    // The field of that exact name, or null.
    const BindingFieldDescriptor* FindField(std::string_view fieldName) const;
    // The name of the first value, in name order, equal to `value`, or null.
    // The text lives as long as the descriptor.
    const char* ValueName(std::int32_t value) const;
    bool HasValue(std::int32_t value) const { return ValueName(value) != nullptr; }
};

struct BindingEventDescriptor {
    std::string name;
    const BindingTypeDescriptor* payload = nullptr;  // may be null
    std::string nameSpace;
    std::string description;
    std::vector<std::string> tags;
};

// An exported function. The registry only keeps them by name; the remoting
// layer derives its function records from this one and fills the table.
struct BindingFunctionDescriptor {
    virtual ~BindingFunctionDescriptor() = default;
    std::string name;
};

// Everything an untyped field addition needs. The typed builder derives all
// of it from a member pointer.
struct BindingFieldSpec {
    std::string_view name;
    std::uint32_t offset = 0;
    const StaticType* staticType = nullptr;
    BindingTypeInfo typeInfo;
    std::unique_ptr<BindingConverter> converter;  // required; a field without one is dropped
    std::string_view description;
    std::uint32_t flags = 0;
    BindingTypeInfo overrideTypeInfo;  // copied only when its kind is not None
    bool optional = false;
};

// The optional parts of a typed field addition:
//   .AddField("id", &S::id, {.description = "Identifier", .flags = kBindingRequired})
struct BindingFieldOptions {
    std::string_view description;
    std::uint32_t flags = 0;
    BindingTypeInfo overrideTypeInfo;
    bool optional = false;
};

// Common state of the builders: the registry, the descriptor (or event) they
// add to, and whether the declaration was a repeat. Returned by value from the
// declarations; valid while the registry lives.
class BindingBuilderBase {
public:
    // True when the name was already registered: every addition is dropped.
    bool Failed() const { return failed_; }

protected:
    BindingBuilderBase(BindingRegistry* registry, bool failed)
        : registry_(registry), failed_(failed) {}
    BindingRegistry* registry_;
    bool failed_;
};

class BindingStructBuilderBase : public BindingBuilderBase {
public:
    BindingStructBuilderBase(BindingRegistry* registry, BindingTypeDescriptor* descriptor,
                             bool failed)
        : BindingBuilderBase(registry, failed), descriptor_(descriptor) {}

    // The descriptor declared (or, for a failed builder, the one found).
    const BindingTypeDescriptor* Descriptor() const { return descriptor_; }

    // Appends a field described by hand (callbacks, custom converters).
    BindingStructBuilderBase& AddFieldSpec(BindingFieldSpec spec);
    // Appends a tag; an empty text is ignored.
    BindingStructBuilderBase& AddTag(std::string_view tag);
    BindingStructBuilderBase& AddTags(std::initializer_list<std::string_view> tags);
    BindingStructBuilderBase& AddTags(const std::vector<std::string>& tags);
    BindingStructBuilderBase& SetDescription(std::string_view description);
    BindingStructBuilderBase& SetNameSpace(std::string_view nameSpace);

protected:
    BindingTypeDescriptor* descriptor_;
};

// Typed struct builder: fields by member pointer.
template <class T>
class BindingStructBuilder : public BindingStructBuilderBase {
public:
    using BindingStructBuilderBase::BindingStructBuilderBase;

    // Appends the member as a field named `name`. The member's type must be a
    // bindable native type (binding/NativeTraits.h).
    template <class M, class C>
    BindingStructBuilder& AddField(std::string_view name, M C::*member,
                                   std::string_view description = {}, std::uint32_t flags = 0);
    template <class M, class C>
    BindingStructBuilder& AddField(std::string_view name, M C::*member,
                                   const BindingFieldOptions& options);

    BindingStructBuilder& AddTag(std::string_view tag) {
        BindingStructBuilderBase::AddTag(tag);
        return *this;
    }
    BindingStructBuilder& AddTags(std::initializer_list<std::string_view> tags) {
        BindingStructBuilderBase::AddTags(tags);
        return *this;
    }
    BindingStructBuilder& AddTags(const std::vector<std::string>& tags) {
        BindingStructBuilderBase::AddTags(tags);
        return *this;
    }
    BindingStructBuilder& SetDescription(std::string_view description) {
        BindingStructBuilderBase::SetDescription(description);
        return *this;
    }
    BindingStructBuilder& SetNameSpace(std::string_view nameSpace) {
        BindingStructBuilderBase::SetNameSpace(nameSpace);
        return *this;
    }
};

class BindingEnumBuilder : public BindingBuilderBase {
public:
    BindingEnumBuilder(BindingRegistry* registry, BindingTypeDescriptor* descriptor, bool failed)
        : BindingBuilderBase(registry, failed), descriptor_(descriptor) {}

    const BindingTypeDescriptor* Descriptor() const { return descriptor_; }

    // Stores the value under `name`, replacing an earlier value of that name.
    BindingEnumBuilder& AddValue(std::string_view name, std::int32_t value,
                                 std::string_view description = {});
    template <class E>
    requires std::is_enum_v<E> BindingEnumBuilder& AddValue(std::string_view name, E value,
                                                            std::string_view description = {}) {
        return AddValue(name, static_cast<std::int32_t>(value), description);
    }
    BindingEnumBuilder& AddTag(std::string_view tag);
    BindingEnumBuilder& AddTags(std::initializer_list<std::string_view> tags);
    BindingEnumBuilder& AddTags(const std::vector<std::string>& tags);
    BindingEnumBuilder& SetDescription(std::string_view description);
    BindingEnumBuilder& SetNameSpace(std::string_view nameSpace);

private:
    BindingTypeDescriptor* descriptor_;
};

class BindingEventBuilder : public BindingBuilderBase {
public:
    BindingEventBuilder(BindingRegistry* registry, BindingEventDescriptor* event, bool failed)
        : BindingBuilderBase(registry, failed), event_(event) {}

    const BindingEventDescriptor* Descriptor() const { return event_; }

    BindingEventBuilder& AddTag(std::string_view tag);
    BindingEventBuilder& AddTags(std::initializer_list<std::string_view> tags);
    BindingEventBuilder& AddTags(const std::vector<std::string>& tags);
    BindingEventBuilder& SetDescription(std::string_view description);
    BindingEventBuilder& SetNameSpace(std::string_view nameSpace);

private:
    BindingEventDescriptor* event_;
};

class BindingRegistry {
public:
    BindingRegistry();
    virtual ~BindingRegistry();
    BindingRegistry(const BindingRegistry&) = delete;
    BindingRegistry& operator=(const BindingRegistry&) = delete;

    // Declares the struct T (native size sizeof(T)) under `name`.
    // [host-thread]
    template <class T>
    BindingStructBuilder<T> DeclareStruct(std::string_view name) {
        static_assert(std::is_class_v<T>, "DeclareStruct needs a class type");
        auto [descriptor, failed] = Declare(name, sizeof(T), false, StaticType::Anonymous<T>());
        return BindingStructBuilder<T>(this, descriptor, failed);
    }
    // Untyped: fields must be added with AddFieldSpec. A struct declared with
    // the identity of void is found by name only.
    BindingStructBuilderBase DeclareStruct(std::string_view name, std::uint32_t size,
                                           const StaticType& type);

    // Declares the enum E (native size sizeof(E): 1, 2, 4 or 8) under `name`.
    template <class E>
    BindingEnumBuilder DeclareEnum(std::string_view name) {
        static_assert(NativeKindOf<E>() == BindingNativeKind::Enum,
                      "DeclareEnum needs an enum of 1, 2, 4 or 8 bytes");
        auto [descriptor, failed] = Declare(name, sizeof(E), true, StaticType::Anonymous<E>());
        return BindingEnumBuilder(this, descriptor, failed);
    }
    BindingEnumBuilder DeclareEnum(std::string_view name, const StaticType& type,
                                   std::uint32_t size = 4);

    // Declares an event; a name already declared gives a failed builder
    // referring to the existing event. `payload` may be null.
    BindingEventBuilder DeclareEvent(std::string_view name, const BindingTypeDescriptor* payload);
    template <class P>
    BindingEventBuilder DeclareEvent(std::string_view name) {
        return DeclareEvent(name, FindTypeById(StaticType::Anonymous<P>()));
    }

    // Lookups: the descriptor or null. [any-thread]
    const BindingTypeDescriptor* FindTypeByName(std::string_view name) const;
    const BindingTypeDescriptor* FindTypeById(const StaticType& type) const;
    const BindingTypeDescriptor* FindTypeById(std::uint32_t typeId) const;
    template <class T>
    const BindingTypeDescriptor* FindType() const {
        return FindTypeById(StaticType::Anonymous<T>());
    }
    const BindingEventDescriptor* FindEventByName(std::string_view name) const;

    // The name of `value` in the enum registered for `type`: the first value
    // in name order equal to it; null when there is none (or no such enum).
    // The text lives as long as the registry. [any-thread]
    const char* EnumValueName(const StaticType& type, std::int32_t value) const;

    // Type info of a registered type: (Enum or Struct, None, descriptor), or
    // all zero when `type` is not registered.
    BindingTypeInfo TypeInfoOf(const StaticType& type) const;
    // Type info of any bindable native type M, with the descriptor of the
    // struct or enum it (or its element) names when registered.
    template <class M>
    BindingTypeInfo TypeInfoOf() const;

    // Sets the description of a declared type or event; false when unknown.
    bool SetTypeDescription(std::string_view typeName, std::string_view description);
    bool SetEventDescription(std::string_view eventName, std::string_view description);

    // Snapshots in declaration order (the order of the export block).
    std::vector<const BindingTypeDescriptor*> Types() const;
    std::vector<const BindingEventDescriptor*> Events() const;

    // Registers T through the description that T's header declares right
    // after T, found by argument-dependent lookup:
    //   void DescribeBinding(BindingRegistry& registry, BindingTag<T>);
    template <class T>
    void Register() {
        DescribeBinding(*this, BindingTag<T>{});
    }

    // Set by RegisterBuiltins.
    bool HasBuiltins() const;
    void MarkBuiltinsRegistered();

protected:
    // Exported functions, kept by the remoting layer. AddFunction refuses a
    // name already present (and returns false).
    bool AddFunction(std::unique_ptr<BindingFunctionDescriptor> function);
    const BindingFunctionDescriptor* FindFunctionByName(std::string_view name) const;
    std::vector<const BindingFunctionDescriptor*> Functions() const;

private:
    struct Declared {
        BindingTypeDescriptor* descriptor;
        bool failed;
    };
    Declared Declare(std::string_view name, std::uint32_t size, bool isEnum,
                     const StaticType& type);

    mutable std::mutex mutex_;  // guards the tables below, not the descriptors
    std::map<std::string, std::unique_ptr<BindingFunctionDescriptor>, std::less<>> functions_;
    std::map<std::string, BindingEventDescriptor*, std::less<>> eventsByName_;
    std::map<std::string, BindingTypeDescriptor*, std::less<>> typesByName_;
    std::unordered_map<std::uint32_t, BindingTypeDescriptor*> typesById_;
    // Owners, in declaration order.
    std::vector<std::unique_ptr<BindingTypeDescriptor>> types_;
    std::vector<std::unique_ptr<BindingEventDescriptor>> events_;
    bool builtins_ = false;
};

namespace detail {

// Byte offset of `member` inside T, computed on storage that is never
// constructed (nothing is read or written through it).
template <class T, class M, class C>
std::uint32_t MemberOffset(M C::*member) {
    union Storage {
        Storage() {}
        ~Storage() {}
        T object;
        unsigned char bytes[sizeof(T)];
    } storage;
    const T& object = storage.object;
    const auto* field = reinterpret_cast<const unsigned char*>(&(object.*member));
    return static_cast<std::uint32_t>(field - storage.bytes);
}

}  // namespace detail

template <class M>
BindingTypeInfo BindingRegistry::TypeInfoOf() const {
    constexpr BindingNativeKind kind = NativeKindOf<M>();
    constexpr BindingNativeKind elementKind = NativeElementKindOf<M>();
    static_assert(kind != BindingNativeKind::None, "not a bindable native type");
    BindingTypeInfo info{kind, elementKind, nullptr};
    if constexpr (kind == BindingNativeKind::Enum || kind == BindingNativeKind::Struct) {
        info.descriptor = FindTypeById(StaticType::Anonymous<std::remove_cv_t<M>>());
    } else if constexpr (elementKind == BindingNativeKind::Enum ||
                         elementKind == BindingNativeKind::Struct) {
        using E = typename BindingElementOf<M>::Type;
        info.descriptor = FindTypeById(StaticType::Anonymous<E>());
    }
    return info;
}

template <class T>
template <class M, class C>
BindingStructBuilder<T>& BindingStructBuilder<T>::AddField(std::string_view name, M C::*member,
                                                           std::string_view description,
                                                           std::uint32_t flags) {
    return AddField(name, member, BindingFieldOptions{description, flags, {}, false});
}

template <class T>
template <class M, class C>
BindingStructBuilder<T>& BindingStructBuilder<T>::AddField(std::string_view name, M C::*member,
                                                           const BindingFieldOptions& options) {
    static_assert(!std::is_function_v<M>, "AddField needs a data member");
    static_assert(std::is_base_of_v<C, T>, "the member must belong to the declared struct");
    static_assert(!std::is_const_v<M>, "a const member cannot be converted into");
    static_assert(NativeKindOf<M>() != BindingNativeKind::None,
                  "the member's type is not a bindable native type");
    if (failed_) {
        return *this;
    }
    BindingFieldSpec spec;
    spec.name = name;
    spec.offset = detail::MemberOffset<T>(static_cast<M T::*>(member));
    spec.staticType = &StaticType::Anonymous<M>();
    spec.typeInfo = registry_->TypeInfoOf<M>();
    spec.converter = std::make_unique<TypedBindingConverter<M>>();
    spec.description = options.description;
    spec.flags = options.flags;
    spec.overrideTypeInfo = options.overrideTypeInfo;
    spec.optional = options.optional;
    AddFieldSpec(std::move(spec));
    return *this;
}

}  // namespace Tavo

#include "binding/Converters.h"
