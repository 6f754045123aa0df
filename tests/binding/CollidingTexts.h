#pragma once
// Sets of distinct texts whose FNV-1a values collide, as an attacker builds
// them against a table that picks buckets by FNV-1a: 2^blocks texts, each a
// chain of `blocks` choices between two 5-letter blocks that lead from the
// same hash state to the same state in the bits of `mask`. With mask
// 0xFFFFFFFF every text has one identical full 32-bit value; with a low-bit
// mask they share that many low bits, which is all a power-of-two table looks
// at. Letters only, so the texts can stand in JSON, YAML and MessagePack.
// Also random texts of the same length, the baseline.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/StaticType.h"

namespace Tavo::Testing {

inline constexpr std::size_t kCollidingBlockSize = 5;

inline std::string LetterBlock(std::uint32_t index) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr std::uint32_t kLetters = sizeof kAlphabet - 1;
    std::string block(kCollidingBlockSize, 'a');
    for (std::size_t i = 0; i < kCollidingBlockSize; ++i, index /= kLetters) {
        block[i] = kAlphabet[index % kLetters];
    }
    return block;
}

// Two distinct blocks whose hashes from `state` agree in `mask` (which must
// cover the low 7 bits). A birthday search over 4-character prefixes on the
// bits of `mask` above the low 7; two prefixes that meet differ in the low
// 7 bits of their states only, and a last character for each that cancels
// that difference makes the states, and so the hashes, equal in `mask`.
inline std::pair<std::string, std::string> CollidingBlocks(std::uint32_t state,
                                                           std::uint32_t mask) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::unordered_map<std::uint32_t, std::pair<std::string, std::uint32_t>> seen;
    for (std::uint32_t index = 0;; ++index) {
        std::string prefix = LetterBlock(index).substr(0, kCollidingBlockSize - 1);
        const std::uint32_t prefixState = Fnv1a32(prefix, state);
        auto [it, inserted] =
            seen.emplace((prefixState & mask) >> 7, std::pair{prefix, prefixState});
        if (inserted || it->second.first == prefix) {
            continue;
        }
        const std::uint32_t difference = (prefixState ^ it->second.second) & 0x7F;
        for (const char* c = kAlphabet; *c != '\0'; ++c) {
            const char other = static_cast<char>(*c ^ difference);
            if (other != '\0' &&
                std::string_view(kAlphabet).find(other) != std::string_view::npos) {
                return {prefix + *c, it->second.first + other};
            }
        }
    }
}

inline std::vector<std::string> CollidingTexts(std::size_t blocks, std::uint32_t mask) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::uint32_t state = kFnvOffsetBasis;
    for (std::size_t i = 0; i < blocks; ++i) {
        pairs.push_back(CollidingBlocks(state, mask));
        state = Fnv1a32(pairs.back().first, state);
    }
    std::vector<std::string> texts;
    texts.reserve(std::size_t{1} << blocks);
    for (std::size_t bits = 0; bits < (std::size_t{1} << blocks); ++bits) {
        std::string text;
        for (std::size_t i = 0; i < blocks; ++i) {
            text += (bits >> i & 1) ? pairs[i].second : pairs[i].first;
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

inline std::vector<std::string> RandomTexts(std::size_t count, std::size_t size,
                                            std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::vector<std::string> texts(count, std::string(size, 'a'));
    for (std::string& text : texts) {
        for (char& c : text) {
            c = static_cast<char>('a' + random() % 26);
        }
    }
    return texts;
}

}  // namespace Tavo::Testing
