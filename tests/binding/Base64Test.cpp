#include "binding/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using Tavo::Base64Decode;
using Tavo::Base64Encode;

using namespace std::string_literals;

// A plain rendering of the encoding rules, one group at a time, to check the
// table-driven code against on inputs of every length and alignment.
std::string ReferenceEncode(std::string_view in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, in.size() - i);
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? Tavo::kBase64Alphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

TEST(Base64, EncodesGroupsAndPadsTheLastOne) {
    struct Row {
        std::string bytes;
        const char* text;
    };
    // Bytes are unsigned: high bits reach the first characters.
    const Row rows[] = {{"", ""},
                        {"a", "YQ=="},
                        {"ab", "YWI="},
                        {"abc", "YWJj"},
                        {"\xFF\xFF\xFF", "////"},
                        {"\xFB\xEF\xBE", "++++"},
                        {"\x00\x00\x00\x00"s, "AAAAAA=="},
                        {"The quick brown fox jumps", "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcw=="}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Base64Encode(row.bytes), row.text);
    }
    EXPECT_EQ(Base64Encode(nullptr, 5), "");
}

TEST(Base64, DecodesUpToTheFirstPaddingOrForeignCharacter) {
    struct Row {
        std::string text;
        std::string bytes;
    };
    const Row rows[] = {
        // Reading stops at the first "=": what follows is ignored.
        {"YQ==YWJj", "a"},
        {"=YWJj", ""},
        {"YWJjYWJjYWJj=YWJj", "abcabcabc"},
        // ... and at a character outside the alphabet (every position: below).
        {"YWJj YWJj", "abc"},
        {"YWJj\x00YWJj"s, "abc"},
        {"YWJj\xC3\xA9YWJj", "abc"},  // bytes above 0x7F are foreign
        // The URL-safe alphabet is not accepted.
        {"-_-_", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Base64Decode(row.text), row.bytes);
    }
}

// Lengths 0..100 cover every position of the stopping point relative to the
// bulk loops (8 and 4 characters) and the tail. Decoding stops at a foreign
// character with the bytes of the characters before it: 3 per whole group,
// then 0, 1 or 2 for 1, 2 or 3 characters left over.
TEST(Base64, MatchesThePlainRulesAtEveryLengthAndStoppingPoint) {
    for (std::size_t length = 0; length <= 100; ++length) {
        SCOPED_TRACE(length);
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<char>((i + length) * 167);  // every byte value over the lengths
        }
        const std::string text = Base64Encode(bytes);
        ASSERT_EQ(text, ReferenceEncode(bytes));
        ASSERT_EQ(Base64Decode(text), bytes);

        const std::string unpadded = text.substr(0, text.find('='));
        for (std::size_t cut = 0; cut <= unpadded.size(); ++cut) {
            std::string broken = unpadded;
            broken.insert(cut, 1, '*');
            const std::size_t kept = cut / 4 * 3 + (cut % 4 == 0 ? 0 : cut % 4 - 1);
            ASSERT_EQ(Base64Decode(broken), bytes.substr(0, kept)) << "cut at " << cut;
        }
    }
}

}  // namespace
