#pragma once
// FNV-1a, 32 bit: the one hash of the system. Type ids, field names and
// interned strings hash with it, and so do the check codes of assertion
// reports, which is why it sits in this lowest layer.

#include <cstdint>
#include <string_view>

namespace Tavo {

inline constexpr std::uint32_t kFnvOffsetBasis = 0x811C9DC5u;
inline constexpr std::uint32_t kFnvPrime = 0x01000193u;

// Over a NUL-terminated text (bytes as unsigned). `seed` continues an earlier
// hash: hashing "ab" equals hashing "b" seeded with the hash of "a".
constexpr std::uint32_t Fnv1a32(const char* text, std::uint32_t seed = kFnvOffsetBasis) {
    std::uint32_t h = seed;
    for (; *text != '\0'; ++text) {
        h = (h ^ static_cast<unsigned char>(*text)) * kFnvPrime;
    }
    return h;
}

// The same over an explicit byte range (stops at `text.size()`, not at NUL).
constexpr std::uint32_t Fnv1a32(std::string_view text, std::uint32_t seed = kFnvOffsetBasis) {
    std::uint32_t h = seed;
    for (char c : text) {
        h = (h ^ static_cast<unsigned char>(c)) * kFnvPrime;
    }
    return h;
}

}  // namespace Tavo
