#include "binding/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using Tavo::Base64Decode;
using Tavo::Base64Encode;

using namespace std::string_literals;

// A plain rendering of the encoding rules, one character at a time, to check
// the table-driven code against on inputs of every length and alignment.
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

std::string ReferenceDecode(std::string_view in) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : in) {
        const char* found = c == '\0' ? nullptr : std::strchr(Tavo::kBase64Alphabet, c);
        if (found == nullptr) {
            break;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(found - Tavo::kBase64Alphabet);
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

std::string AllByteValues(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST(Base64, EncodesGroupsAndPadsTheLastOne) {
    struct Row {
        std::string bytes;
        const char* text;
    };
    const Row rows[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"\x01\x02\x03", "AQID"},
        // Bytes are unsigned: high bits reach the first characters.
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
        {"\x00\x00\x00\x00"s, "AAAAAA=="},
        {"The quick brown fox jumps", "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcw=="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Base64Encode(row.bytes), row.text);
    }
}

TEST(Base64, EncodingNullBytesGivesEmptyText) {
    EXPECT_EQ(Base64Encode(nullptr, 0), "");
    EXPECT_EQ(Base64Encode(nullptr, 5), "");
}

TEST(Base64, DecodesUpToTheFirstPaddingOrForeignCharacter) {
    struct Row {
        std::string text;
        std::string bytes;
    };
    const Row rows[] = {
        // Complete and padded groups.
        {"YWJj", "abc"},
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"AQID", "\x01\x02\x03"},
        {"////", "\xFF\xFF\xFF"},
        // Missing padding is fine; a lone character yields nothing.
        {"YWI", "ab"},
        {"YQ", "a"},
        {"Y", ""},
        {"", ""},
        {"YWJjY", "abc"},
        // Reading stops at the first "=": what follows is ignored.
        {"YQ==YWJj", "a"},
        {"=YWJj", ""},
        {"YWJjYWJjYWJj=YWJj", "abcabcabc"},
        // ... and at any character outside the alphabet, anywhere in a group.
        {"YWJj YWJj", "abc"},
        {"YWJjYW\nJj", "abca"},
        {"YWJjYWJjY-Jj", "abcabc"},
        {"YWJjYWJjYWJjYWJjYWJ_", "abcabcabcabcab"},
        {"YWJj\x00YWJj"s, "abc"},
        {"YWJj\xC3\xA9YWJj", "abc"},  // bytes above 0x7F are foreign
        {"YWJj\x80", "abc"},
        // The URL-safe alphabet is not accepted.
        {"-_-_", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Base64Decode(row.text), row.bytes);
    }
}

// Lengths 0..100 cover every position of the stopping point relative to the
// bulk loops (8 and 4 characters) and the tail.
TEST(Base64, MatchesThePlainRulesAtEveryLengthAndStoppingPoint) {
    for (std::size_t length = 0; length <= 100; ++length) {
        SCOPED_TRACE(length);
        const std::string bytes = AllByteValues(length, static_cast<unsigned>(length));
        const std::string text = Base64Encode(bytes);
        ASSERT_EQ(text, ReferenceEncode(bytes));
        ASSERT_EQ(Base64Decode(text), bytes);

        const std::string unpadded = text.substr(0, text.find('='));
        for (std::size_t cut = 0; cut <= unpadded.size(); ++cut) {
            std::string broken = unpadded;
            broken.insert(cut, 1, '*');
            ASSERT_EQ(Base64Decode(broken), ReferenceDecode(broken)) << "cut at " << cut;
        }
    }
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
}

TEST(Base64, IsBase64TextAcceptsOnlyTheAlphabetAndPadding) {
    struct Row {
        std::string text;
        bool accepted;
    };
    const Row rows[] = {
        {"", true},         {"YWJj", true},       {"YQ==", true},
        {"==YQ", true},  // where "=" stands is the decoder's concern
        {"+/09azAZ", true}, {"YW Jj", false},     {"YWJj\n", false},
        {"YW-_", false},    {"YWJj\x00"s, false}, {"\xC3\xA9", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Tavo::IsBase64Text(row.text), row.accepted);
    }
}

}  // namespace
