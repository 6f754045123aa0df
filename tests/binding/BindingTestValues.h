#pragma once
// Terse builders of dynamic values for the binding tests.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>

#include "binding/BindingProperty.h"

namespace Tavo::Testing {

template <class Set>
BindingProperty Make(Set set) {
    BindingProperty p;
    set(p);
    return p;
}

inline BindingProperty Bool(bool v) {
    return Make([&](BindingProperty& p) { p.SetBool(v); });
}
inline BindingProperty Signed(std::int64_t v) {
    return Make([&](BindingProperty& p) { p.SetSigned(v); });
}
inline BindingProperty Unsigned(std::uint64_t v) {
    return Make([&](BindingProperty& p) { p.SetUnsigned(v); });
}
inline BindingProperty Float(double v) {
    return Make([&](BindingProperty& p) { p.SetFloat(v); });
}
inline BindingProperty String(std::string_view v) {
    return Make([&](BindingProperty& p) { p.SetString(v); });
}
inline BindingProperty Blob(std::initializer_list<std::uint8_t> v) {
    return Make(
        [&](BindingProperty& p) { p.SetBlob(std::span<const std::uint8_t>(v.begin(), v.size())); });
}
template <class E>
BindingProperty Enum(std::int32_t v) {
    return Make([&](BindingProperty& p) { p.SetEnum(v, StaticType::Anonymous<E>()); });
}
inline BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
    return Make([&](BindingProperty& p) {
        p.MakeCollection();
        for (const BindingProperty& element : elements) {
            p.Append() = element;
        }
    });
}
inline BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> fields) {
    return Make([&](BindingProperty& p) {
        p.MakeStructure();
        for (const auto& [name, value] : fields) {
            p.Field(name) = value;
        }
    });
}

}  // namespace Tavo::Testing
