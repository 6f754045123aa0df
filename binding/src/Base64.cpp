#include "binding/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace Tavo {

namespace {

// Why: both directions run one table lookup per output unit and no branch
// per byte. Encoding maps 12 input bits to two characters at once (8 KiB
// table), so a 3-byte group costs two lookups. Decoding uses four
// pre-shifted tables whose entries for foreign characters (and "=") carry
// bit 24, outside any decoded group; OR-ing a group's four entries both
// assembles its 24 bits and flags whether the group is clean, so the stopping
// point costs one test per group.

constexpr std::array<std::array<char, 2>, 4096> MakePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i][0] = kBase64Alphabet[i >> 6];
        table[i][1] = kBase64Alphabet[i & 0x3F];
    }
    return table;
}

constexpr std::uint32_t kForeign = 0x01000000u;

constexpr std::array<std::uint32_t, 256> MakeDecodeTable(unsigned shift) {
    std::array<std::uint32_t, 256> table{};
    for (auto& entry : table) {
        entry = kForeign;
    }
    for (std::uint32_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = i << shift;
    }
    return table;
}

constexpr auto kPairs = MakePairTable();
constexpr auto kDecode0 = MakeDecodeTable(18);
constexpr auto kDecode1 = MakeDecodeTable(12);
constexpr auto kDecode2 = MakeDecodeTable(6);
constexpr auto kDecode3 = MakeDecodeTable(0);

inline std::uint32_t Group(const unsigned char* in) {
    return kDecode0[in[0]] | kDecode1[in[1]] | kDecode2[in[2]] | kDecode3[in[3]];
}

inline char* PutGroup(char* out, std::uint32_t bits) {
    out[0] = static_cast<char>(bits >> 16);
    out[1] = static_cast<char>(bits >> 8);
    out[2] = static_cast<char>(bits);
    return out + 3;
}

inline char* EncodeGroup(char* out, const unsigned char* in) {
    const std::uint32_t bits = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, kPairs[bits >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[bits & 0xFFF].data(), 2);
    return out + 4;
}

}  // namespace

std::string Base64Encode(const void* bytes, std::size_t length) {
    std::string out;
    if (bytes == nullptr || length == 0) {
        return out;
    }
    const std::size_t groups = length / 3 + (length % 3 != 0 ? 1 : 0);
    if (groups > out.max_size() / 4) {
        throw std::length_error("Base64Encode: input too large");
    }
    out.resize(groups * 4);

    const auto* in = static_cast<const unsigned char*>(bytes);
    const unsigned char* const end = in + length;
    char* o = out.data();
    while (end - in >= 12) {
        o = EncodeGroup(o, in);
        o = EncodeGroup(o, in + 3);
        o = EncodeGroup(o, in + 6);
        o = EncodeGroup(o, in + 9);
        in += 12;
    }
    while (end - in >= 3) {
        o = EncodeGroup(o, in);
        in += 3;
    }
    const std::size_t rest = static_cast<std::size_t>(end - in);
    if (rest != 0) {
        const unsigned char last[3] = {in[0], rest == 2 ? in[1] : static_cast<unsigned char>(0), 0};
        EncodeGroup(o, last);
        o[3] = '=';
        if (rest == 1) {
            o[2] = '=';
        }
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    // Three bytes per complete group, at most two from a partial one; written
    // this way so that it cannot overflow.
    out.resize(text.size() / 4 * 3 + 2);

    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = in + text.size();
    char* o = out.data();
    while (end - in >= 8) {
        const std::uint32_t first = Group(in);
        const std::uint32_t second = Group(in + 4);
        if (((first | second) & kForeign) != 0) {
            break;
        }
        o = PutGroup(o, first);
        o = PutGroup(o, second);
        in += 8;
    }
    while (end - in >= 4) {
        const std::uint32_t group = Group(in);
        if ((group & kForeign) != 0) {
            break;
        }
        o = PutGroup(o, group);
        in += 4;
    }
    // Fewer than four characters left, or a group holding the stopping
    // point: decode its clean prefix. Two characters give one byte, three
    // give two; one gives nothing.
    std::size_t clean = 0;
    const std::size_t left = static_cast<std::size_t>(end - in);
    while (clean < left && clean < 4 && kDecode3[in[clean]] != kForeign) {
        ++clean;
    }
    if (clean >= 2) {
        const std::uint32_t bits =
            kDecode0[in[0]] | kDecode1[in[1]] | (clean == 3 ? kDecode2[in[2]] : 0u);
        o[0] = static_cast<char>(bits >> 16);
        ++o;
        if (clean == 3) {
            o[0] = static_cast<char>(bits >> 8);
            ++o;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

bool IsBase64Text(std::string_view text) {
    for (char c : text) {
        if (c != '=' && kDecode3[static_cast<unsigned char>(c)] == kForeign) {
            return false;
        }
    }
    return true;
}

}  // namespace Tavo
