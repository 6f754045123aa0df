#pragma once
// The host's flat tagged value: how every value crosses the boundary with the
// host. Little-endian and packed; on a 32-bit build a HostValue is 12 bytes
// (type word, then an 8-byte payload) and a HostMapEntry 17 bytes. On 64-bit
// the pointers widen and the records grow with them.
//
// Ownership: records of the "owned" codes own their payload (text, bytes,
// element or entry array), allocated through the plugin's counting hooks and
// released by ResetHostValue; "borrowed" codes point at memory owned by
// someone else. Map entries own their key text when ownsKey is 1.

#include <cstddef>
#include <cstdint>

namespace Tavo {

enum class HostValueType : std::uint32_t {
    Null = 0,
    Bool = 1,
    Signed = 2,
    Unsigned = 3,
    Float = 4,
    StringBorrowed = 5,
    StringOwned = 6,
    BlobBorrowed = 7,
    BlobOwned = 8,
    Array = 9,  // owned array of HostValue
    Map = 10,   // owned array of HostMapEntry
};

struct HostMapEntry;

#pragma pack(push, 1)
struct HostValue {
    std::uint32_t type;  // a HostValueType code; anything else is foreign
    union Payload {
        std::uint8_t boolean;
        std::int64_t i64;
        std::uint64_t u64;
        double f64;
        struct Reference {
            // Text (NUL-terminated), bytes, HostValue[] or HostMapEntry[].
            const void* pointer;
            // Text length, byte count or element count.
            std::uint32_t count;
        } ref;
    } payload;
};

struct HostMapEntry {
    const char* key;  // NUL-terminated
    HostValue value;
    std::uint8_t ownsKey;  // 1 when `key` belongs to the entry
};
#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostValue) == 12);
static_assert(offsetof(HostValue, payload) == 4);
static_assert(sizeof(HostMapEntry) == 17);
static_assert(offsetof(HostMapEntry, value) == 4);
static_assert(offsetof(HostMapEntry, ownsKey) == 16);
#endif

}  // namespace Tavo
