#pragma once
// Descriptors of what the registry knows: native structs with their fields,
// enums with their values, and events; plus the converter interface each
// field carries and the description of a field added by hand (BindingFieldSpec).
//
// Ownership: the registry owns every descriptor, field, value and event;
// pointers to them stay valid until the registry is destroyed. Descriptors
// are written only while registering and read without a lock afterwards.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"
#include "binding/StaticType.h"

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

}  // namespace Tavo
