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
//
// Plain C as well as C++ (the host's side is C): the records sit in namespace
// Tavo only when compiled as C++, and the typed codes are C++ alone.

#include <stddef.h>
#include <stdint.h>

#include "abi/AbiLayout.h"

#ifdef __cplusplus
namespace Tavo {
#endif

typedef struct HostValue HostValue;
typedef struct HostMapEntry HostMapEntry;

#pragma pack(push, 1)
struct HostValue {
    uint32_t type;  // a HostValueType code; anything else is foreign
    union Payload {
        uint8_t boolean;
        int64_t i64;
        uint64_t u64;
        double f64;
        struct Reference {
            // Text (NUL-terminated), bytes, HostValue[] or HostMapEntry[].
            const void* pointer;
            // Text length, byte count or element count.
            uint32_t count;
        } ref;
    } payload;
};

struct HostMapEntry {
    const char* key;  // NUL-terminated
    HostValue value;
    uint8_t ownsKey;  // 1 when `key` belongs to the entry
};
#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
TAVO_ABI_ASSERT(sizeof(HostValue) == 12);
TAVO_ABI_ASSERT(offsetof(HostValue, payload) == 4);
TAVO_ABI_ASSERT(sizeof(HostMapEntry) == 17);
TAVO_ABI_ASSERT(offsetof(HostMapEntry, value) == 4);
TAVO_ABI_ASSERT(offsetof(HostMapEntry, ownsKey) == 16);
#endif

#ifdef __cplusplus
// The codes of HostValue::type.
enum class HostValueType : uint32_t {
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

}  // namespace Tavo
#endif
