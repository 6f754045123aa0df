#pragma once
// A keyed hash for choosing buckets of tables whose keys come from outside
// (texts read from documents, the host or a remote service).
//
// Why: FNV-1a's low bits depend only on the low bits of its state and of
// each byte, so texts that share any number of low hash bits (or the whole
// 32-bit value) are cheap to make, and a table that picks buckets by them
// degrades to a linear search. SipHash with a secret 128-bit key drawn once
// per process gives values an input cannot aim at. The tables still bound
// their worst case without relying on it.
//
// SipHashRounds<C, D> is SipHash-C-D; the tables use 1-3, and the tests check
// the code with the published 2-4 vectors.

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

template <int C, int D>
std::uint64_t SipHashRounds(const HashKey& key, std::string_view text) noexcept {
    std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ull;
    std::uint64_t v1 = key.k1 ^ 0x646f72616e646f6dull;
    std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ull;
    std::uint64_t v3 = key.k1 ^ 0x7465646279746573ull;
    auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    auto round = [&] {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const std::size_t whole = size & ~std::size_t{7};
    for (std::size_t i = 0; i < whole; i += 8) {
        std::uint64_t m = 0;
        for (int b = 0; b < 8; ++b) {  // little-endian on every host
            m |= std::uint64_t{bytes[i + b]} << (8 * b);
        }
        v3 ^= m;
        for (int r = 0; r < C; ++r) {
            round();
        }
        v0 ^= m;
    }
    std::uint64_t last = std::uint64_t{size & 0xFF} << 56;
    for (std::size_t i = whole; i < size; ++i) {
        last |= std::uint64_t{bytes[i]} << (8 * (i - whole));
    }
    v3 ^= last;
    for (int r = 0; r < C; ++r) {
        round();
    }
    v0 ^= last;
    v2 ^= 0xFF;
    for (int r = 0; r < D; ++r) {
        round();
    }
    return v0 ^ v1 ^ v2 ^ v3;
}

// The bucket hash of the tables keyed by outside text.
inline std::uint64_t KeyedHash(const HashKey& key, std::string_view text) noexcept {
    return SipHashRounds<1, 3>(key, text);
}

}  // namespace Tavo::detail
