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

// Exported functions are declared here too (DeclareFunction); what they
// describe lives in binding/BindingFunction.h.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingBuilderBase.h"
#include "binding/BindingFunction.h"
#include "binding/BindingProperty.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/BindingTypeInfo.h"
#include "binding/NativeTraits.h"
#include "binding/StaticType.h"
#include "logging/Failure.h"
#include "platform/Platform.h"

namespace Tavo {

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

template <class F>
class TypedBindingFunctionInvoker;

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

    // Declares the exported function `name` calling `callable` (a function
    // pointer or a function object, copied). A name already declared gives a
    // failed builder referring to the existing function. See
    // BindingFunctionDescriptor for what the callable may take and return.
    // [registration-thread]
    template <class F>
    BindingFunctionBuilder DeclareFunction(std::string_view name, F callable);

    // The declared functions in declaration order, and by name. [any-thread]
    std::vector<const BindingFunctionDescriptor*> Functions() const;
    const BindingFunctionDescriptor* FindFunctionByName(std::string_view name) const;

    // Adds the entries of the exported functions to `exported`, whose
    // description records are already built (BuildApiExport calls it last).
    // The plain registry adds none; the remoting API object, which routes
    // requests to the functions, overrides it.
    // [registration-thread]
    virtual void ExportFunctions(BindingApiExport& exported) const;

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
    // Adds a function described by hand; refuses a name already present (and
    // returns false).
    bool AddFunction(std::unique_ptr<BindingFunctionDescriptor> function);

private:
    // Enters a new function, or returns a failed builder for a repeated name.
    BindingFunctionBuilder AddDeclaredFunction(std::unique_ptr<BindingFunctionDescriptor> function);

    struct Declared {
        BindingTypeDescriptor* descriptor;
        bool failed;
    };
    Declared Declare(std::string_view name, std::uint32_t size, bool isEnum,
                     const StaticType& type);

    mutable Platform::Mutex mutex_;  // guards the tables below, not the descriptors
    std::map<std::string, std::unique_ptr<BindingFunctionDescriptor>, std::less<>> functions_
        TAVO_GUARDED_BY(mutex_);
    // Declaration order.
    std::vector<const BindingFunctionDescriptor*> functionOrder_ TAVO_GUARDED_BY(mutex_);
    std::map<std::string, BindingEventDescriptor*, std::less<>> eventsByName_
        TAVO_GUARDED_BY(mutex_);
    std::map<std::string, BindingTypeDescriptor*, std::less<>> typesByName_ TAVO_GUARDED_BY(mutex_);
    std::unordered_map<std::uint32_t, BindingTypeDescriptor*> typesById_ TAVO_GUARDED_BY(mutex_);
    // Owners, in declaration order.
    std::vector<std::unique_ptr<BindingTypeDescriptor>> types_ TAVO_GUARDED_BY(mutex_);
    std::vector<std::unique_ptr<BindingEventDescriptor>> events_ TAVO_GUARDED_BY(mutex_);
    bool builtins_ TAVO_GUARDED_BY(mutex_) = false;
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
#include "binding/detail/BindingFunctionInvoker.h"

namespace Tavo {

template <class F>
BindingFunctionBuilder BindingRegistry::DeclareFunction(std::string_view name, F callable) {
    auto function = std::make_unique<BindingFunctionDescriptor>();
    function->name = std::string(name);
    TypedBindingFunctionInvoker<F>::Describe(*function, *this);
    function->invoker =
        std::make_unique<TypedBindingFunctionInvoker<F>>(std::move(callable), *function, *this);
    return AddDeclaredFunction(std::move(function));
}

}  // namespace Tavo
