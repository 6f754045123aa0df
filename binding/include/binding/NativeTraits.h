#pragma once
// Compile-time mapping from a native C++ type to its BindingNativeKind.
//
//   bool; std::int8_t .. std::uint64_t (any standard integer of width 8 to 64
//   bits except the character types); float; double; std::string;
//   Tavo::BindingProperty (object); std::vector<std::uint8_t> (blob);
//   std::vector<E>; std::map / std::unordered_map from std::string to E;
//   enums (registered enums); any other class type (registered structs).
//
// Everything else has kind None and cannot be bound.

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"

namespace Tavo {

namespace detail {

template <class T>
struct IsStdVector : std::false_type {};
template <class E, class A>
struct IsStdVector<std::vector<E, A>> : std::true_type {};

template <class T>
struct IsStringMap : std::false_type {};
template <class E, class C, class A>
struct IsStringMap<std::map<std::string, E, C, A>> : std::true_type {};
template <class E, class H, class Q, class A>
struct IsStringMap<std::unordered_map<std::string, E, H, Q, A>> : std::true_type {};

template <class T>
inline constexpr bool kIsCharacterType =
    std::is_same_v<T, char> || std::is_same_v<T, wchar_t> || std::is_same_v<T, char8_t> ||
    std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

template <class T>
constexpr BindingNativeKind IntegerKind() {
    constexpr bool isSigned = std::is_signed_v<T>;
    switch (sizeof(T)) {
        case 1:
            return isSigned ? BindingNativeKind::Int8 : BindingNativeKind::UInt8;
        case 2:
            return isSigned ? BindingNativeKind::Int16 : BindingNativeKind::UInt16;
        case 4:
            return isSigned ? BindingNativeKind::Int32 : BindingNativeKind::UInt32;
        case 8:
            return isSigned ? BindingNativeKind::Int64 : BindingNativeKind::UInt64;
        default:
            return BindingNativeKind::None;
    }
}

}  // namespace detail

template <class T>
constexpr BindingNativeKind NativeKindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, bool>) {
        return BindingNativeKind::Bool;
    } else if constexpr (std::is_integral_v<U> && !detail::kIsCharacterType<U>) {
        return detail::IntegerKind<U>();
    } else if constexpr (std::is_same_v<U, float>) {
        return BindingNativeKind::Float;
    } else if constexpr (std::is_same_v<U, double>) {
        return BindingNativeKind::Double;
    } else if constexpr (std::is_same_v<U, std::string>) {
        return BindingNativeKind::String;
    } else if constexpr (std::is_same_v<U, BindingProperty>) {
        return BindingNativeKind::Object;
    } else if constexpr (std::is_same_v<U, std::vector<std::uint8_t>>) {
        return BindingNativeKind::Blob;
    } else if constexpr (detail::IsStdVector<U>::value) {
        return NativeKindOf<typename U::value_type>() == BindingNativeKind::None
                   ? BindingNativeKind::None
                   : BindingNativeKind::Vector;
    } else if constexpr (detail::IsStringMap<U>::value) {
        return NativeKindOf<typename U::mapped_type>() == BindingNativeKind::None
                   ? BindingNativeKind::None
                   : BindingNativeKind::Map;
    } else if constexpr (std::is_enum_v<U>) {
        return (sizeof(U) == 1 || sizeof(U) == 2 || sizeof(U) == 4 || sizeof(U) == 8)
                   ? BindingNativeKind::Enum
                   : BindingNativeKind::None;
    } else if constexpr (std::is_class_v<U>) {
        return BindingNativeKind::Struct;
    } else {
        return BindingNativeKind::None;
    }
}

// The element type of a vector or map; void for every other type.
template <class T, class = void>
struct BindingElementOf {
    using Type = void;
};
template <class T>
struct BindingElementOf<T, std::enable_if_t<NativeKindOf<T>() == BindingNativeKind::Vector>> {
    using Type = typename T::value_type;
};
template <class T>
struct BindingElementOf<T, std::enable_if_t<NativeKindOf<T>() == BindingNativeKind::Map>> {
    using Type = typename T::mapped_type;
};

template <class T>
constexpr BindingNativeKind NativeElementKindOf() {
    using E = typename BindingElementOf<T>::Type;
    if constexpr (std::is_void_v<E>) {
        return BindingNativeKind::None;
    } else {
        return NativeKindOf<E>();
    }
}

// A type a field, element or top-level conversion can hold.
template <class T>
concept BindingNative = NativeKindOf<T>()
!= BindingNativeKind::None;

}  // namespace Tavo
