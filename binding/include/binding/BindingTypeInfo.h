#pragma once
// Native kinds and the static description of a field's or element's type.
// The kind codes 1..19 cross the boundary unchanged (API export block,
// exported-function records), so their values are fixed.

#include <cstdint>

namespace Tavo {

struct BindingTypeDescriptor;

enum class BindingNativeKind : std::uint32_t {
    None = 0,  // not a native kind: exported as 0
    Bool = 1,
    Int8 = 2,
    UInt8 = 3,
    Int16 = 4,
    UInt16 = 5,
    Int32 = 6,
    UInt32 = 7,
    Int64 = 8,
    UInt64 = 9,
    Float = 10,   // 32-bit IEEE
    Double = 11,  // 64-bit IEEE
    String = 12,  // std::string, UTF-8 bytes
    Object = 13,  // a Tavo::BindingProperty held natively
    Blob = 14,    // std::vector<std::uint8_t>
    Vector = 15,  // std::vector of an element type
    Enum = 16,    // registered enum, 1, 2, 4 or 8 bytes as its descriptor says
    Struct = 17,  // registered struct
    Callback = 18,
    Map = 19,  // std::map or std::unordered_map from std::string to an element type
};

// "bool", "int8", ..., "map" as used in messages; "" for a code outside 1..19.
const char* BindingNativeKindName(BindingNativeKind kind);

// Field flags.
inline constexpr std::uint32_t kBindingOmitWhenDefault =
    1u;                                                // native -> dynamic: drop default values
inline constexpr std::uint32_t kBindingRequired = 2u;  // dynamic -> native: a missing field fails

// What a field or element holds: its kind, for vectors and maps the kind of
// the elements, and the descriptor of the struct or enum that the kind or the
// element kind names (null otherwise, or when that type was not registered
// yet). The descriptor belongs to the registry.
struct BindingTypeInfo {
    BindingNativeKind kind = BindingNativeKind::None;
    BindingNativeKind elementKind = BindingNativeKind::None;
    const BindingTypeDescriptor* descriptor = nullptr;
};

}  // namespace Tavo
