#pragma once
// Building, releasing and converting the host's flat values (binding/HostValue.h).
//
// Ownership: the setters make owned copies through the plugin's counting
// hooks (platform/MemoryAccounting.h); ResetHostValue releases everything a
// record owns, recursively. Records of the borrowed codes (5, 7) own nothing.
// A record handed to a setter must be valid (zeroed or built by these
// functions): the setters release its old payload first.
// Threading: plain functions over caller-owned records. [any-thread]

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "abi/HostValue.h"
#include "binding/BindingProperty.h"

namespace Tavo {

class BindingRegistry;

// Trees deeper than this are refused in both directions, so a hostile or
// runaway tree cannot exhaust the stack.
inline constexpr std::size_t kMaxHostValueDepth = 1000;

// "bool", "signed", "unsigned", "float", "string", "string", "blob", "blob",
// "collection", "structure" for the codes 1 to 10; "" for any other code.
const char* HostValueTypeName(std::uint32_t type);

// Setters: each releases the record's old payload first.
void SetNull(HostValue& value);
void SetBool(HostValue& value, bool flag);
void SetSigned(HostValue& value, std::int64_t number);
void SetUnsigned(HostValue& value, std::uint64_t number);
void SetFloat(HostValue& value, double number);
// Owned copy of a NUL-terminated text, length strlen(text); null counts as "".
// False (and a null record) when memory runs out.
bool SetString(HostValue& value, const char* text);
// Owned copy of the bytes plus a NUL; length text.size(). False (and a null
// record) when memory runs out or the text is longer than 32 bits can count.
bool SetString(HostValue& value, std::string_view text);
// Owned copy of `count` bytes (nothing is allocated for 0). False as above.
bool SetBlob(HostValue& value, const void* bytes, std::size_t count);
// Take over an array from AllocateHostArray / AllocateHostMap (null for 0).
void SetArray(HostValue& value, HostValue* elements, std::uint32_t count);
void SetMap(HostValue& value, HostMapEntry* entries, std::uint32_t count);

// Zeroed arrays from the counting hooks; null for 0 or when memory runs out
// (or the byte size overflows). Owned by the record they are given to.
HostValue* AllocateHostArray(std::size_t count);
HostMapEntry* AllocateHostMap(std::size_t count);

// Owned copy of `key` (null counts as ""), releasing an owned old key. False
// when memory runs out (the entry then has no key).
bool SetKey(HostMapEntry& entry, const char* key);
bool SetKey(HostMapEntry& entry, std::string_view key);

// Releases what the record owns (texts and bytes of codes 6 and 8, the arrays
// of 9 and 10 with their contents and owned keys) and zeroes it (null).
// Iterative: safe on trees of any depth.
void ResetHostValue(HostValue& value) noexcept;
// Releases an owned key and resets the value.
void ResetHostMapEntry(HostMapEntry& entry) noexcept;

// Converts a host value into `out`. Strings are read up to their NUL (the
// length is not used); map entries are stored by key, so the structure
// iterates in key order whatever the host's order. On failure returns false
// with `error` set; `out` then holds what was converted before the failure.
// Refuses an unknown type code, a null pointer where text, bytes or entries
// are expected, a map entry without key, a collection longer than a
// BindingProperty can hold and a tree deeper than kMaxHostValueDepth.
[[nodiscard]] bool PropertyFromHostValue(BindingProperty& out, const HostValue& in,
                                         std::string_view name, std::string& error);
// The same into a fresh result: the value, or failed with the message.
[[nodiscard]] BindingResult PropertyFromHostValue(const HostValue& in, std::string_view name);

// Converts `in` into `out`, which is overwritten without being released (pass
// a null or fresh record). Enum values become their registered name (owned
// string) when `registry` knows one, else their number (signed); structure
// entries come in key order with owned keys. Returns false only when memory
// runs out, a size exceeds 32 bits or the tree is deeper than
// kMaxHostValueDepth; `out` is then null and nothing is leaked.
[[nodiscard]] bool HostValueFromProperty(HostValue& out, const BindingProperty& in,
                                         const BindingRegistry* registry);

}  // namespace Tavo
