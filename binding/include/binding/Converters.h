#pragma once
// Conversion between native values and BindingProperty trees.
//
// Dynamic to native: every conversion reports into a context (a
// BindingResult). A converter does nothing once the context has failed; the
// first failure is recorded as {"error": message} and stops the rest. A
// native target whose own conversion fails is left at its zero or cleared
// value; a struct or container that fails part-way keeps what was written.
// `path` names the value in messages: a field's registered name, the name of
// the field holding a vector or map for its elements, or the caller's name for
// a top-level value.
//
// Native to dynamic: the output result is set ok and filled, or failed.
//
// Top-level entry points:
//   FromProperty(context, out, input, path, registry)
//   ToProperty(output, in, registry)   /   ToProperty(in, registry) -> BindingResult
// They accept every bindable native type (binding/NativeTraits.h); registered
// structs and enums are looked up by their StaticType.
//
// Threading: conversions read the registry without locking descriptors; they
// may run on any thread once registration is over.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingTypeInfo.h"
#include "binding/NativeTraits.h"

namespace Tavo {

// --- Scalar rules, dynamic to native ---------------------------------------
// Each returns the converted value, or zero when the context was or becomes
// failed. An empty input fails with "A value for '%1' is required.".

bool BoolFromProperty(BindingResult& context, const BindingProperty& input, std::string_view path);

// `kind` is Int8, Int16, Int32 or Int64 (UInt8..UInt64 for the unsigned
// variant; Float or Double for the floating one) and selects the range.
// `typeName` names the type in messages; empty means the kind's name.
std::int64_t SignedFromProperty(BindingResult& context, const BindingProperty& input,
                                std::string_view path, BindingNativeKind kind,
                                std::string_view typeName = {});
std::uint64_t UnsignedFromProperty(BindingResult& context, const BindingProperty& input,
                                   std::string_view path, BindingNativeKind kind,
                                   std::string_view typeName = {});
double FloatingFromProperty(BindingResult& context, const BindingProperty& input,
                            std::string_view path, BindingNativeKind kind,
                            std::string_view typeName = {});

// The text rules alone (strtoll / strtoull / strtod with base 0, whole text
// consumed), for readers that hold a scalar as text.
std::int64_t SignedFromText(BindingResult& context, std::string_view text, std::string_view path,
                            BindingNativeKind kind, std::string_view typeName = {});
std::uint64_t UnsignedFromText(BindingResult& context, std::string_view text, std::string_view path,
                               BindingNativeKind kind, std::string_view typeName = {});
double FloatingFromText(BindingResult& context, std::string_view text, std::string_view path,
                        BindingNativeKind kind, std::string_view typeName = {});

// A string value's text, or an enum value's registered name.
std::string StringFromEnumOrString(BindingResult& context, const BindingProperty& input,
                                   std::string_view path, const BindingRegistry& registry);

// The number of an enum value of the enum `descriptor` describes, accepted as
// a value name, a number or another enum value that this enum has.
std::int32_t EnumFromProperty(BindingResult& context, const BindingProperty& input,
                              std::string_view path, const BindingTypeDescriptor* descriptor);

// Clears `out`, then copies a blob or decodes a Base64 string into it.
void BlobFromProperty(BindingResult& context, std::vector<std::uint8_t>& out,
                      const BindingProperty& input, std::string_view path);

// Clears `out`, then deep-copies any input (the empty kind included).
void ObjectFromProperty(BindingResult& context, BindingProperty& out, const BindingProperty& input);

// --- Registered structs, by descriptor --------------------------------------

// Converts a structure into the native struct at `target` field by field, in
// registration order, through each field's converter.
void StructFromProperty(BindingResult& context, void* target, const BindingProperty& input,
                        std::string_view path, const BindingTypeDescriptor* descriptor,
                        const BindingRegistry& registry);
// Converts the native struct at `source` into a structure.
void StructToProperty(BindingResult& output, const void* source,
                      const BindingTypeDescriptor* descriptor, const BindingRegistry& registry);

// The default values omitted by kBindingOmitWhenDefault: empty; false; 0;
// 0.0 of either sign (not NaN); an enum of value 0; a string, blob,
// collection or structure of size 0.
bool IsDefaultValue(const BindingProperty& value);

// --- Generic conversions ----------------------------------------------------

// `descriptor` is a hint: the descriptor of the struct or enum that T (or its
// element) names; when null or of another type, the registry is asked.
template <BindingNative T>
void ConvertFromProperty(BindingResult& context, T& out, const BindingProperty& input,
                         std::string_view path, const BindingTypeDescriptor* descriptor,
                         const BindingRegistry& registry);
template <BindingNative T>
void ConvertToProperty(BindingResult& output, const T& in, const BindingTypeDescriptor* descriptor,
                       const BindingRegistry& registry);

// Top level. An exception raised underneath (memory exhaustion, a collection
// too long to hold) becomes a failure of the context.
template <BindingNative T>
void FromProperty(BindingResult& context, T& out, const BindingProperty& input,
                  std::string_view path, const BindingRegistry& registry);
template <BindingNative T>
void ToProperty(BindingResult& output, const T& in, const BindingRegistry& registry);
template <BindingNative T>
[[nodiscard]] BindingResult ToProperty(const T& in, const BindingRegistry& registry) {
    BindingResult output;
    ToProperty(output, in, registry);
    return output;
}

// A C text becomes a string value (null counts as ""); there is no native
// C text to convert into.
inline void ToProperty(BindingResult& output, const char* in, const BindingRegistry&) {
    output.SetOk();
    output.Value().SetString(in);
}
[[nodiscard]] inline BindingResult ToProperty(const char* in, const BindingRegistry& registry) {
    BindingResult output;
    ToProperty(output, in, registry);
    return output;
}

template <class M>
class TypedBindingConverter final : public BindingConverter {
public:
    void FromProperty(BindingResult& context, void* target, const BindingProperty& input,
                      std::string_view path, const BindingTypeDescriptor* descriptor,
                      const BindingRegistry& registry) const override {
        ConvertFromProperty(context, *static_cast<M*>(target), input, path, descriptor, registry);
    }
    void ToProperty(BindingResult& output, const void* source,
                    const BindingTypeDescriptor* descriptor,
                    const BindingRegistry& registry) const override {
        ConvertToProperty(output, *static_cast<const M*>(source), descriptor, registry);
    }
};

namespace detail {

// Failures of the container rules, shared by every instantiation.
void FailNotACollection(BindingResult& context, std::string_view path, bool elementIsBool,
                        const BindingProperty& input);
void FailNotAStructureForMap(BindingResult& context, std::string_view path);
void FailUnregisteredEnum(BindingResult& context, std::string_view path);
void FailFromException(BindingResult& context, std::string_view path, const std::exception& error);
void FailToException(BindingResult& output, const std::exception& error);
// Moves a converted element or field value into its slot in a tree.
void StoreConverted(BindingProperty& slot, BindingResult& converted);

template <class T>
const BindingTypeDescriptor* DescriptorFor(const BindingTypeDescriptor* hint,
                                           const BindingRegistry& registry) {
    const StaticType& type = StaticType::Anonymous<T>();
    if (hint != nullptr && hint->typeId == type.hashCode) {
        return hint;
    }
    return registry.FindTypeById(type);
}

}  // namespace detail

template <BindingNative T>
void ConvertFromProperty(BindingResult& context, T& out, const BindingProperty& input,
                         std::string_view path, const BindingTypeDescriptor* descriptor,
                         const BindingRegistry& registry) {
    constexpr BindingNativeKind kind = NativeKindOf<T>();
    if (!context.IsOk()) {
        return;
    }
    if constexpr (kind == BindingNativeKind::Bool) {
        out = BoolFromProperty(context, input, path);
    } else if constexpr (kind == BindingNativeKind::Int8 || kind == BindingNativeKind::Int16 ||
                         kind == BindingNativeKind::Int32 || kind == BindingNativeKind::Int64) {
        out = static_cast<T>(SignedFromProperty(context, input, path, kind));
    } else if constexpr (kind == BindingNativeKind::UInt8 || kind == BindingNativeKind::UInt16 ||
                         kind == BindingNativeKind::UInt32 || kind == BindingNativeKind::UInt64) {
        out = static_cast<T>(UnsignedFromProperty(context, input, path, kind));
    } else if constexpr (kind == BindingNativeKind::Float || kind == BindingNativeKind::Double) {
        out = static_cast<T>(FloatingFromProperty(context, input, path, kind));
    } else if constexpr (kind == BindingNativeKind::String) {
        out = StringFromEnumOrString(context, input, path, registry);
    } else if constexpr (kind == BindingNativeKind::Object) {
        ObjectFromProperty(context, out, input);
    } else if constexpr (kind == BindingNativeKind::Blob) {
        BlobFromProperty(context, out, input, path);
    } else if constexpr (kind == BindingNativeKind::Vector) {
        using E = typename T::value_type;
        out.clear();
        if (input.GetKind() != BindingProperty::Kind::Collection) {
            detail::FailNotACollection(context, path, std::is_same_v<E, bool>, input);
            return;
        }
        const auto elements = input.Elements();
        out.resize(elements.size());
        for (std::size_t i = 0; i < elements.size() && context.IsOk(); ++i) {
            if (elements[i].IsEmpty()) {
                continue;
            }
            if constexpr (std::is_same_v<E, bool>) {
                bool value = false;
                ConvertFromProperty(context, value, elements[i], path, descriptor, registry);
                out[i] = value;
            } else {
                ConvertFromProperty(context, out[i], elements[i], path, descriptor, registry);
            }
        }
    } else if constexpr (kind == BindingNativeKind::Map) {
        using E = typename T::mapped_type;
        out.clear();
        if (input.GetKind() != BindingProperty::Kind::Structure) {
            detail::FailNotAStructureForMap(context, path);
            return;
        }
        for (const auto& field : input.Fields()) {
            if (field.value.IsEmpty()) {
                continue;
            }
            E element{};
            ConvertFromProperty(context, element, field.value, path, descriptor, registry);
            if (!context.IsOk()) {
                return;
            }
            out.insert_or_assign(std::string(field.key.View()), std::move(element));
        }
    } else if constexpr (kind == BindingNativeKind::Enum) {
        const BindingTypeDescriptor* enumDescriptor =
            detail::DescriptorFor<T>(descriptor, registry);
        if (enumDescriptor == nullptr || !enumDescriptor->isEnum) {
            out = T{};
            detail::FailUnregisteredEnum(context, path);
            return;
        }
        out = static_cast<T>(EnumFromProperty(context, input, path, enumDescriptor));
    } else {
        static_assert(kind == BindingNativeKind::Struct);
        const BindingTypeDescriptor* structDescriptor =
            detail::DescriptorFor<T>(descriptor, registry);
        // A descriptor whose layout is not T's would write outside the object.
        if (structDescriptor != nullptr &&
            (structDescriptor->isEnum || structDescriptor->size != sizeof(T))) {
            structDescriptor = nullptr;
        }
        StructFromProperty(context, &out, input, path, structDescriptor, registry);
    }
}

template <BindingNative T>
void ConvertToProperty(BindingResult& output, const T& in, const BindingTypeDescriptor* descriptor,
                       const BindingRegistry& registry) {
    constexpr BindingNativeKind kind = NativeKindOf<T>();
    if constexpr (kind == BindingNativeKind::Struct) {
        const BindingTypeDescriptor* structDescriptor =
            detail::DescriptorFor<T>(descriptor, registry);
        if (structDescriptor != nullptr &&
            (structDescriptor->isEnum || structDescriptor->size != sizeof(T))) {
            structDescriptor = nullptr;
        }
        StructToProperty(output, &in, structDescriptor, registry);
        return;
    }
    output.SetOk();
    BindingProperty& value = output.Value();
    if constexpr (kind == BindingNativeKind::Bool) {
        value.SetBool(in);
    } else if constexpr (kind == BindingNativeKind::Int8 || kind == BindingNativeKind::Int16 ||
                         kind == BindingNativeKind::Int32 || kind == BindingNativeKind::Int64) {
        value.SetSigned(static_cast<std::int64_t>(in));
    } else if constexpr (kind == BindingNativeKind::UInt8 || kind == BindingNativeKind::UInt16 ||
                         kind == BindingNativeKind::UInt32 || kind == BindingNativeKind::UInt64) {
        value.SetUnsigned(static_cast<std::uint64_t>(in));
    } else if constexpr (kind == BindingNativeKind::Float || kind == BindingNativeKind::Double) {
        value.SetFloat(static_cast<double>(in));
    } else if constexpr (kind == BindingNativeKind::String) {
        value.SetString(std::string_view(in));
    } else if constexpr (kind == BindingNativeKind::Object) {
        value = in;
    } else if constexpr (kind == BindingNativeKind::Blob) {
        value.SetBlob(std::span<const std::uint8_t>(in.data(), in.size()));
    } else if constexpr (kind == BindingNativeKind::Vector) {
        value.MakeCollection();
        value.Reserve(in.size());
        for (const auto& element : in) {
            BindingResult converted;
            if constexpr (std::is_same_v<typename T::value_type, bool>) {
                ConvertToProperty(converted, static_cast<bool>(element), descriptor, registry);
            } else {
                ConvertToProperty(converted, element, descriptor, registry);
            }
            if (!converted.IsOk()) {
                output.Fail(converted.ErrorMessage());
                return;
            }
            detail::StoreConverted(value.Append(), converted);
        }
    } else if constexpr (kind == BindingNativeKind::Map) {
        value.MakeStructure();
        for (const auto& [key, element] : in) {
            BindingResult converted;
            ConvertToProperty(converted, element, descriptor, registry);
            if (!converted.IsOk()) {
                output.Fail(converted.ErrorMessage());
                return;
            }
            detail::StoreConverted(value.Field(key), converted);
        }
    } else if constexpr (kind == BindingNativeKind::Enum) {
        // Only the low 32 bits of the native value travel.
        const auto number = static_cast<std::int64_t>(static_cast<std::underlying_type_t<T>>(in));
        value.SetEnum(static_cast<std::int32_t>(static_cast<std::uint32_t>(number)),
                      StaticType::Anonymous<T>());
    }
}

template <BindingNative T>
void FromProperty(BindingResult& context, T& out, const BindingProperty& input,
                  std::string_view path, const BindingRegistry& registry) {
    try {
        ConvertFromProperty(context, out, input, path, nullptr, registry);
    } catch (const std::exception& error) {
        detail::FailFromException(context, path, error);
    }
}

template <BindingNative T>
void ToProperty(BindingResult& output, const T& in, const BindingRegistry& registry) {
    try {
        ConvertToProperty(output, in, nullptr, registry);
    } catch (const std::exception& error) {
        detail::FailToException(output, error);
    }
}

}  // namespace Tavo
