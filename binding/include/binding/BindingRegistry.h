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

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"
#include "binding/NativeTraits.h"
#include "binding/StaticType.h"
#include "logging/Failure.h"
#include "platform/Platform.h"

namespace Tavo {

class BindingApiExport;
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

// --- Exported functions -----------------------------------------------------
//
// A function declared in the registry becomes a REST endpoint of the plugin:
//
//   registry.DeclareFunction("GetItem", [](std::uint32_t id, bool verbose) { ... })
//       .Route(HttpMethod::Get, "/items/{id}")
//       .Argument("id", BindingArgumentLocation::Path, "Item number")
//       .OptionalArgument("verbose", BindingArgumentLocation::Query)
//       .SetDescription("Reads one item.");
//
// The native types of the arguments and of the result are deduced from the
// callable; each argument gets its name, location and flags from the
// Argument calls, in parameter order. Two parameter types are not arguments:
// a request record (a type marked as in BindingRequestRecord, taken by value
// or const reference) receives the dispatcher's record of the whole request,
// and a `BindingFunctionResponse&` lets the function describe its answer
// (status, content type, headers, a streamed body). The result is any
// bindable type, nothing, or a MaybeType over Failure and either.

// Where an argument may come from. The codes cross the boundary in the
// export entries.
enum class BindingArgumentLocation : std::uint32_t {
    Any = 0,
    Query = 1,
    Path = 2,  // a placeholder of the URL template
    Header = 4,
    Body = 5,
};

// Route flag: the route serves GET and HEAD requests only.
inline constexpr std::uint8_t kBindingRouteGetOnly = 1u;

// A type the dispatcher hands to a function whole, instead of converted
// arguments. It says so with `static constexpr bool kBindingRequestRecord =
// true;` (the remoting request records do).
template <class T>
concept BindingRequestRecord = requires {
    requires T::kBindingRequestRecord;
};

struct BindingFunctionArgument {
    std::string name;
    std::string description;
    const StaticType* staticType = nullptr;  // the parameter's native type
    BindingTypeInfo typeInfo;
    BindingArgumentLocation location = BindingArgumentLocation::Any;
    bool optional = false;  // absent: the parameter keeps its default value
};

extern "C" {
// A streamed response body, as the host reads it: see HostStreamReadFn and
// HostStreamCloseFn in framework/HostAbi.h (the same signatures).
typedef std::uint8_t (*BindingStreamReadFn)(void* context, void* buffer, std::uint32_t* length,
                                            std::uint8_t* more);
typedef void (*BindingStreamCloseFn)(void* context);
}

// How a function answers besides its result value. A function fills it
// through a `BindingFunctionResponse&` parameter; the dispatcher copies it
// into the host's response record.
struct BindingFunctionResponse {
    // HTTP status; 0 lets the dispatcher choose (200 on success, the
    // failure's code when it is 400 to 599, else 500).
    std::int32_t status = 0;
    std::uint8_t flags = 0;
    std::uint32_t format = 0;  // body format code 1..3, or 0
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    // A streamed body, read by the host instead of the result when
    // `streamRead` is set. `streamContext` belongs to the stream; once the
    // stream is handed over, the host ends it with `streamClose`.
    BindingStreamReadFn streamRead = nullptr;
    BindingStreamCloseFn streamClose = nullptr;
    std::uint64_t expectedSize = 0;
    void* streamContext = nullptr;
};

// Runs one declared function. One object per function, owned by its
// descriptor; its operations may run on several threads at once, each call
// with its own handle.
class BindingFunctionInvoker {
public:
    // Converts `arguments` (one per declared argument, in declaration order)
    // into the native parameters. Returns the call handle, or null with
    // `slot` failed when a conversion failed. `context` is the host's request
    // context word.
    virtual void* Prepare(BindingResult& slot, const std::vector<BindingProperty>& arguments,
                          std::uintptr_t context) const = 0;
    // Runs the function with the prepared parameters and leaves its result in
    // `slot` (ok with the value, or failed with the message) and its answer
    // in `response`. `request` is the request record when RequestType() names
    // one, else null. Exceptions of the function pass through.
    virtual void Call(BindingResult& slot, const void* request, void* handle,
                      std::uintptr_t context, BindingFunctionResponse& response) const = 0;
    // Releases a handle from Prepare (null is ignored).
    virtual void Release(void* handle) const noexcept = 0;
    // The static type of the request-record parameter, or null when there is
    // none.
    virtual const StaticType* RequestType() const = 0;
    virtual ~BindingFunctionInvoker() = default;
};

// An exported function: what the export block describes and what the
// dispatcher needs to route to it and call it.
struct BindingFunctionDescriptor {
    virtual ~BindingFunctionDescriptor() = default;
    std::string name;
    std::string nameSpace;
    std::string description;
    std::string help;
    std::vector<std::string> tags;
    bool threadSafe = false;
    std::string asyncResultName;  // empty for a synchronous function
    // Route: method code (1..8, 0 accepts every method), the method's name
    // for code 8, the URL template and the kBindingRoute* flags.
    std::uint32_t method = 0;
    std::string methodName;
    std::string urlTemplate;
    std::uint8_t routeFlags = 0;
    std::vector<BindingFunctionArgument> arguments;  // in parameter order
    const StaticType* resultType = nullptr;          // null for nothing
    BindingTypeInfo resultTypeInfo;
    std::unique_ptr<BindingFunctionInvoker> invoker;
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

// Completes a function declaration. Arguments are named in parameter order;
// an argument never named keeps the name "arg" followed by its index.
class BindingFunctionBuilder : public BindingBuilderBase {
public:
    BindingFunctionBuilder(BindingRegistry* registry, BindingFunctionDescriptor* function,
                           bool failed)
        : BindingBuilderBase(registry, failed), function_(function) {}

    // The function declared (or, for a failed builder, the one found).
    const BindingFunctionDescriptor* Descriptor() const { return function_; }

    // Names the next argument and says where a request may supply it. Naming
    // more arguments than the callable takes is a misuse (asserted, ignored).
    BindingFunctionBuilder& Argument(
        std::string_view name, BindingArgumentLocation location = BindingArgumentLocation::Any,
        std::string_view description = {});
    // The same for an argument a request may leave out: the parameter then
    // keeps its default value.
    BindingFunctionBuilder& OptionalArgument(
        std::string_view name, BindingArgumentLocation location = BindingArgumentLocation::Any,
        std::string_view description = {});

    // The route: an HTTP method code (1..7; 0 accepts every method) and a URL
    // template such as "/items/{id}/parts/{+rest}".
    BindingFunctionBuilder& Route(std::uint32_t method, std::string_view urlTemplate);
    template <class M>
    requires std::is_enum_v<M> BindingFunctionBuilder& Route(M method,
                                                             std::string_view urlTemplate) {
        return Route(static_cast<std::uint32_t>(method), urlTemplate);
    }
    // A route for a method named by text (method code 8).
    BindingFunctionBuilder& RouteNamedMethod(std::string_view methodName,
                                             std::string_view urlTemplate);
    // Serve GET and HEAD requests only.
    BindingFunctionBuilder& RestrictToGetAndHead();

    BindingFunctionBuilder& SetNameSpace(std::string_view nameSpace);
    BindingFunctionBuilder& SetDescription(std::string_view description);
    BindingFunctionBuilder& SetHelp(std::string_view help);
    BindingFunctionBuilder& AddTag(std::string_view tag);
    BindingFunctionBuilder& AddTags(std::initializer_list<std::string_view> tags);
    BindingFunctionBuilder& AddTags(const std::vector<std::string>& tags);
    BindingFunctionBuilder& SetThreadSafe(bool threadSafe = true);
    // Names the asynchronous result of an asynchronous function.
    BindingFunctionBuilder& SetAsync(std::string_view resultName);

private:
    BindingFunctionBuilder& NameArgument(std::string_view name, BindingArgumentLocation location,
                                         std::string_view description, bool optional);

    BindingFunctionDescriptor* function_;
    std::size_t nextArgument_ = 0;
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
    std::map<std::string, std::unique_ptr<BindingFunctionDescriptor>, std::less<>> functions_;
    std::vector<const BindingFunctionDescriptor*> functionOrder_;  // declaration order
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

namespace Tavo {

namespace detail {

// The result and parameter types of a callable: a function pointer or a
// class with one operator() (lambdas included).
template <class F>
struct CallableSignature : CallableSignature<decltype(&F::operator())> {};
template <class R, class... P>
struct CallableSignature<R (*)(P...)> {
    using Result = R;
    using Parameters = std::tuple<P...>;
};
template <class R, class... P>
struct CallableSignature<R (*)(P...) noexcept> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...)> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) const> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) noexcept> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) const noexcept> : CallableSignature<R (*)(P...)> {};

enum class FunctionParameterRole { Argument, Request, Response };

template <class P>
constexpr FunctionParameterRole RoleOfParameter() {
    using D = std::remove_cvref_t<P>;
    if constexpr (BindingRequestRecord<D>) {
        static_assert(!std::is_reference_v<P> || std::is_const_v<std::remove_reference_t<P>>,
                      "a request record parameter is taken by value or const reference");
        return FunctionParameterRole::Request;
    } else if constexpr (std::is_same_v<D, BindingFunctionResponse>) {
        static_assert(std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>,
                      "the response description is taken by non-const reference");
        return FunctionParameterRole::Response;
    } else {
        static_assert(NativeKindOf<D>() != BindingNativeKind::None,
                      "a function argument must have a bindable native type");
        return FunctionParameterRole::Argument;
    }
}

// The value a function returns, seen through MaybeType.
template <class R>
struct FunctionResult {
    using Value = std::remove_cvref_t<R>;
    static constexpr bool kMaybe = false;
};
template <class T>
struct FunctionResult<MaybeType<Failure, T>> {
    using Value = std::remove_cvref_t<T>;
    static constexpr bool kMaybe = true;
};

// Records a function's failure: its message, and its code as the status
// unless the function chose one (400..599 are kept, anything else is 500).
void FailFunction(BindingResult& slot, BindingFunctionResponse& response, const Failure& failure);

}  // namespace detail

// The invoker of a callable of type F. Parameters that are arguments are
// converted into a tuple (the call handle) by Prepare and handed to the
// callable by Call, moved unless the parameter is an lvalue reference.
template <class F>
class TypedBindingFunctionInvoker final : public BindingFunctionInvoker {
    using Signature = detail::CallableSignature<F>;
    using Parameters = typename Signature::Parameters;
    using Result = typename Signature::Result;
    static constexpr std::size_t kParameterCount = std::tuple_size_v<Parameters>;

    template <std::size_t I>
    using Parameter = std::tuple_element_t<I, Parameters>;

    template <std::size_t I>
    static constexpr detail::FunctionParameterRole kRole = detail::RoleOfParameter<Parameter<I>>();

    template <std::size_t... I>
    static constexpr auto ArgumentIndices(std::index_sequence<I...>) {
        // For each parameter, its index among the arguments (or the argument
        // count for a parameter that is not one).
        std::array<std::size_t, sizeof...(I) + 1> indices{};
        std::size_t next = 0;
        ((indices[I] = (kRole<I> == detail::FunctionParameterRole::Argument) ? next++ : 0), ...);
        indices[sizeof...(I)] = next;
        return indices;
    }
    static constexpr auto kArgumentIndex =
        ArgumentIndices(std::make_index_sequence<kParameterCount>{});
    static constexpr std::size_t kArgumentCount = kArgumentIndex[kParameterCount];

    template <std::size_t... I>
    static auto ArgumentTuple(std::index_sequence<I...>) -> decltype(std::tuple_cat(
        std::declval<
            std::conditional_t<kRole<I> == detail::FunctionParameterRole::Argument,
                               std::tuple<std::remove_cvref_t<Parameter<I>>>, std::tuple<>>>()...));
    using Arguments = decltype(ArgumentTuple(std::make_index_sequence<kParameterCount>{}));

    template <std::size_t... I>
    static constexpr std::size_t CountRequests(std::index_sequence<I...>) {
        return ((kRole<I> == detail::FunctionParameterRole::Request ? 1 : 0) + ... + 0);
    }
    static_assert(CountRequests(std::make_index_sequence<kParameterCount>{}) <= 1,
                  "a function takes at most one request record");

public:
    TypedBindingFunctionInvoker(F callable, const BindingFunctionDescriptor& function,
                                const BindingRegistry& registry)
        : callable_(std::move(callable)), function_(function), registry_(registry) {}

    // Appends one argument record per argument parameter, with its native
    // type, and records the result type.
    static void Describe(BindingFunctionDescriptor& function, const BindingRegistry& registry) {
        DescribeArguments(function, registry, std::make_index_sequence<kParameterCount>{});
        using Value = typename detail::FunctionResult<Result>::Value;
        if constexpr (!std::is_void_v<Value>) {
            static_assert(NativeKindOf<Value>() != BindingNativeKind::None,
                          "a function's result must have a bindable native type");
            function.resultType = &StaticType::Anonymous<Value>();
            function.resultTypeInfo = registry.TypeInfoOf<Value>();
        }
    }

    void* Prepare(BindingResult& slot, const std::vector<BindingProperty>& arguments,
                  std::uintptr_t) const override {
        if (!slot.IsOk()) {
            return nullptr;
        }
        auto converted = std::make_unique<Arguments>();
        Convert(slot, *converted, arguments, std::make_index_sequence<kArgumentCount>{});
        return slot.IsOk() ? converted.release() : nullptr;
    }

    void Call(BindingResult& slot, const void* request, void* handle, std::uintptr_t,
              BindingFunctionResponse& response) const override {
        if (!slot.IsOk() || handle == nullptr) {
            return;
        }
        auto& arguments = *static_cast<Arguments*>(handle);
        auto invoke = [&] {
            return Invoke(arguments, request, response,
                          std::make_index_sequence<kParameterCount>{});
        };
        using Value = typename detail::FunctionResult<Result>::Value;
        if constexpr (std::is_void_v<Result>) {
            invoke();
            slot.SetOk();
        } else if constexpr (detail::FunctionResult<Result>::kMaybe) {
            auto result = invoke();
            if (result.IsFailure()) {
                detail::FailFunction(slot, response, result.Error());
            } else if constexpr (std::is_void_v<Value>) {
                slot.SetOk();
            } else {
                ToProperty(slot, static_cast<const Value&>(result.Value()), registry_);
            }
        } else {
            const Value value = invoke();
            ToProperty(slot, value, registry_);
        }
    }

    void Release(void* handle) const noexcept override { delete static_cast<Arguments*>(handle); }

    const StaticType* RequestType() const override {
        return FindRequestType(std::make_index_sequence<kParameterCount>{});
    }

private:
    template <std::size_t... I>
    static void DescribeArguments(BindingFunctionDescriptor& function,
                                  const BindingRegistry& registry, std::index_sequence<I...>) {
        (DescribeArgument<I>(function, registry), ...);
    }
    template <std::size_t I>
    static void DescribeArgument(BindingFunctionDescriptor& function,
                                 const BindingRegistry& registry) {
        if constexpr (kRole<I> == detail::FunctionParameterRole::Argument) {
            using D = std::remove_cvref_t<Parameter<I>>;
            BindingFunctionArgument argument;
            argument.name = "arg" + std::to_string(kArgumentIndex[I]);
            argument.staticType = &StaticType::Anonymous<D>();
            argument.typeInfo = registry.TypeInfoOf<D>();
            function.arguments.push_back(std::move(argument));
        }
    }

    template <std::size_t... A>
    void Convert(BindingResult& slot, Arguments& converted,
                 const std::vector<BindingProperty>& arguments, std::index_sequence<A...>) const {
        (ConvertArgument<A>(slot, std::get<A>(converted), arguments), ...);
    }
    template <std::size_t A, class T>
    void ConvertArgument(BindingResult& slot, T& out,
                         const std::vector<BindingProperty>& arguments) const {
        if (!slot.IsOk() || A >= function_.arguments.size()) {
            return;
        }
        const BindingFunctionArgument& argument = function_.arguments[A];
        const BindingProperty& input =
            A < arguments.size() ? arguments[A] : BindingProperty::EmptyValue();
        if (input.IsEmpty() && argument.optional) {
            return;
        }
        FromProperty(slot, out, input, argument.name, registry_);
    }

    template <std::size_t I>
    decltype(auto) Pass(Arguments& arguments, const void* request,
                        BindingFunctionResponse& response) const {
        using P = Parameter<I>;
        using D = std::remove_cvref_t<P>;
        if constexpr (kRole<I> == detail::FunctionParameterRole::Request) {
            static const D kNoRequest{};
            return static_cast<const D&>(request != nullptr ? *static_cast<const D*>(request)
                                                            : kNoRequest);
        } else if constexpr (kRole<I> == detail::FunctionParameterRole::Response) {
            return static_cast<BindingFunctionResponse&>(response);
        } else if constexpr (std::is_lvalue_reference_v<P>) {
            return static_cast<D&>(std::get<kArgumentIndex[I]>(arguments));
        } else {
            return static_cast<D&&>(std::get<kArgumentIndex[I]>(arguments));
        }
    }

    template <std::size_t... I>
    Result Invoke([[maybe_unused]] Arguments& arguments, [[maybe_unused]] const void* request,
                  [[maybe_unused]] BindingFunctionResponse& response,
                  std::index_sequence<I...>) const {
        return std::invoke(callable_, Pass<I>(arguments, request, response)...);
    }

    template <std::size_t... I>
    static const StaticType* FindRequestType(std::index_sequence<I...>) {
        const StaticType* type = nullptr;
        ((type = kRole<I> == detail::FunctionParameterRole::Request
                     ? &StaticType::Anonymous<std::remove_cvref_t<Parameter<I>>>()
                     : type),
         ...);
        return type;
    }

    mutable F callable_;  // a mutable function object may change its own state
    const BindingFunctionDescriptor& function_;
    const BindingRegistry& registry_;
};

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
