// Base64 decoding of arbitrary bytes, checked three ways:
// - differential: the table-driven decoder agrees with a plain
//   character-by-character reading of the decoding rules;
// - what decoding produced encodes and decodes back to itself;
// - the input, taken as bytes, encodes and decodes back to itself.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/Base64.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_base64: %s\n", what);
        std::abort();
    }
}

int SixBits(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string PlainDecode(std::string_view text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int value = SixBits(static_cast<unsigned char>(c));
        if (value < 0) {
            break;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out += static_cast<char>(bits >> 4);
    } else if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>(bits >> 2);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string decoded = Tavo::Base64Decode(input);
    Check(decoded == PlainDecode(input), "decoder disagrees with the plain rules");

    const std::string encoded = Tavo::Base64Encode(decoded);
    Check(encoded.size() == (decoded.size() + 2) / 3 * 4, "encoded length is not 4 per group");
    Check(Tavo::IsBase64Text(encoded), "encoder wrote a character outside the alphabet");
    Check(Tavo::Base64Decode(encoded) == decoded, "decoded bytes do not round-trip");

    Check(Tavo::Base64Decode(Tavo::Base64Encode(input)) == input, "input bytes do not round-trip");
    return 0;
}
