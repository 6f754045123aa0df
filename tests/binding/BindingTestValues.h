#pragma once
// Terse builders of dynamic values for the binding tests.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "binding/BindingProperty.h"

namespace Tavo::Testing {

inline BindingProperty Bool(bool value) {
    BindingProperty p;
    p.SetBool(value);
    return p;
}
inline BindingProperty Signed(std::int64_t value) {
    BindingProperty p;
    p.SetSigned(value);
    return p;
}
inline BindingProperty Unsigned(std::uint64_t value) {
    BindingProperty p;
    p.SetUnsigned(value);
    return p;
}
inline BindingProperty Float(double value) {
    BindingProperty p;
    p.SetFloat(value);
    return p;
}
inline BindingProperty String(std::string_view text) {
    BindingProperty p;
    p.SetString(text);
    return p;
}
inline BindingProperty Blob(std::initializer_list<std::uint8_t> bytes) {
    BindingProperty p;
    p.SetBlob(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
    return p;
}
template <class E>
BindingProperty Enum(std::int32_t value) {
    BindingProperty p;
    p.SetEnum(value, StaticType::Anonymous<E>());
    return p;
}
inline BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
    BindingProperty p;
    p.MakeCollection();
    for (const BindingProperty& element : elements) {
        p.Append() = element;
    }
    return p;
}
inline BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> fields) {
    BindingProperty p;
    p.MakeStructure();
    for (const auto& [name, value] : fields) {
        p.Field(name) = value;
    }
    return p;
}

}  // namespace Tavo::Testing
