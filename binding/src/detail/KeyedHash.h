#pragma once
// A keyed hash for choosing buckets of tables whose keys come from outside
// (texts read from documents, the host or a remote service).
//
// Why: FNV-1a's low bits depend only on the low bits of its state and of
// each byte, so texts that share any number of low hash bits (or the whole
// 32-bit value) are cheap to make, and a table that picks buckets by them
// degrades to a linear search. A hash keyed with a secret 128-bit key drawn
// once per process gives values an input cannot aim at. The tables still
// bound their worst case without relying on it.
//
// KeyedHash is a multiply-fold mix in the manner of wyhash: the text's words
// are combined with the key through 64x64->128-bit products folded to 64 bits,
// 16 bytes per product, so a short key costs two products. (SipHash-1-3, the
// conservative choice, made a 5 MB document of short texts parse 12% slower.)

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Tavo::detail {

struct HashKey {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

// The process's key: drawn from std::random_device on first use, the same
// for the rest of the process. Never throws (a device that fails is replaced
// by a mix of addresses and clocks).
// [any-thread]
const HashKey& ProcessHashKey() noexcept;

namespace keyed_hash {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Product;
inline std::uint64_t Mum(std::uint64_t a, std::uint64_t b) noexcept {
    const Product product = static_cast<Product>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}
#else
// The same fold from four 32x32-bit products, where there is no 128-bit type.
inline std::uint64_t Mum(std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t ha = a >> 32, la = a & 0xFFFFFFFFu, hb = b >> 32, lb = b & 0xFFFFFFFFu;
    const std::uint64_t high = ha * hb, middle0 = ha * lb, middle1 = hb * la, low = la * lb;
    const std::uint64_t t = low + (middle0 << 32);
    const std::uint64_t lo = t + (middle1 << 32);
    const std::uint64_t carry = (t < low ? 1 : 0) + (lo < t ? 1 : 0);
    return lo ^ (high + (middle0 >> 32) + (middle1 >> 32) + carry);
}
#endif

inline std::uint64_t Read64(const unsigned char* bytes) noexcept {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}
inline std::uint64_t Read32(const unsigned char* bytes) noexcept {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

}  // namespace keyed_hash

// The bucket hash of the tables keyed by outside text.
inline std::uint64_t KeyedHash(const HashKey& key, std::string_view text) noexcept {
    using keyed_hash::Mum;
    using keyed_hash::Read32;
    using keyed_hash::Read64;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    std::uint64_t seed = key.k0 ^ Mum(size ^ 0xa0761d6478bd642full, key.k1);
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (size <= 16) {
        if (size >= 8) {
            a = Read64(bytes);
            b = Read64(bytes + size - 8);
        } else if (size >= 4) {
            a = Read32(bytes) << 32 | Read32(bytes + size - 4);
        } else if (size > 0) {
            a = std::uint64_t{bytes[0]} << 16 | std::uint64_t{bytes[size / 2]} << 8 |
                bytes[size - 1];
        }
    } else {
        for (; size > 16; size -= 16, bytes += 16) {
            seed = Mum(Read64(bytes) ^ key.k1, Read64(bytes + 8) ^ seed);
        }
        a = Read64(bytes + size - 16);
        b = Read64(bytes + size - 8);
    }
    return Mum(key.k1 ^ text.size(), Mum(a ^ key.k1, b ^ seed));
}

}  // namespace Tavo::detail
