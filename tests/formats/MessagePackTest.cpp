#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/MessagePack.h"
#include "tests/formats/TypedText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Tavo::kMaxMessagePackDepth;
using Tavo::ReadMessagePack;

constexpr std::size_t kAll = SIZE_MAX;

struct Row {
    const char* name;
    Bytes bytes;
    std::string expected;         // Outcome of the read
    std::size_t consumed = kAll;  // where reading stopped; kAll: every byte
};

void ExpectReads(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Tavo::MessagePackReadResult read = ReadMessagePack(row.bytes.data(), row.bytes.size());
        EXPECT_EQ(TavoTest::Outcome(read.result), row.expected);
        EXPECT_EQ(read.bytesConsumed, row.consumed == kAll ? row.bytes.size() : row.consumed);
    }
}

std::string Invalid(int position, const char* rest = "") {
    return "Invalid MessagePack data at position " + std::to_string(position) + "." + rest;
}

std::string Data(const std::string& rest) {
    return "Invalid MessagePack data. " + rest;
}

std::string Truncated(int bits, int position) {
    return Data(std::to_string(bits) + "-bit integer value at position " +
                std::to_string(position) + " is truncated.");
}

TEST(MessagePackReader, KindFollowsTheFormatByteNotTheValue) {
    ExpectReads({
        // Fixints are signed; uint formats unsigned; int formats sign-extended.
        {"positive fixint", {0x2A}, "s42"},
        {"negative fixint -1", {0xFF}, "s-1"},
        {"negative fixint -32", {0xE0}, "s-32"},
        {"uint 8", {0xCC, 0x2A}, "u42"},
        {"uint 16", {0xCD, 0xFF, 0xFE}, "u65534"},
        {"uint 32", {0xCE, 0xFF, 0xFF, 0xFF, 0xFF}, "u4294967295"},
        {"uint 64",
         {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "u18446744073709551615"},
        {"int 8", {0xD0, 0xFF}, "s-1"},
        {"int 16", {0xD1, 0x80, 0x00}, "s-32768"},
        {"int 32", {0xD2, 0x80, 0x00, 0x00, 0x00}, "s-2147483648"},
        {"int 64", {0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "s-9223372036854775808"},
        {"int 64 positive", {0xD3, 0, 0, 0, 0, 0, 0, 0x01, 0x00}, "s256"},
        {"float 32 of 0.1", {0xCA, 0x3D, 0xCC, 0xCC, 0xCD}, "f0.10000000149011612"},
        {"float 64",
         {0xCB, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A},
         "f0.10000000000000001"},
        {"nil", {0xC0}, "~"},
        {"false", {0xC2}, "false"},
        {"true", {0xC3}, "true"},
        {"fixstr with NUL", {0xA3, 'a', 0x00, 'b'}, "\"a\\0b\""},
        {"str 8", {0xD9, 0x01, 'q'}, R"("q")"},
        {"str 16", {0xDA, 0x00, 0x02, 'o', 'k'}, R"("ok")"},
        {"str 32", {0xDB, 0x00, 0x00, 0x00, 0x03, 'x', 'y', 'z'}, R"("xyz")"},
        {"bin 8", {0xC4, 0x02, 0xFF, 0x00}, "bff00"},
        {"bin 16", {0xC5, 0x00, 0x01, 0x7F}, "b7f"},
        {"bin 32", {0xC6, 0x00, 0x00, 0x00, 0x00}, "b"},
    });
}

TEST(MessagePackReader, ReadsContainersAndStopsAfterTheFirstValue) {
    ExpectReads({
        {"fixarray", {0x92, 0x01, 0xC0}, "[s1,~]"},
        {"map iterates by key", {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}, "{a:s2,b:s1}"},
        {"map with nil value", {0x81, 0xA1, 'k', 0xC0}, "{k:~}"},
        {"array 16", {0xDC, 0x00, 0x02, 0xC3, 0xC2}, "[true,false]"},
        {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x01, 0x90}, "[[]]"},
        {"map 16", {0xDE, 0x00, 0x01, 0xD9, 0x01, 'k', 0x91, 0x05}, "{k:[s5]}"},
        {"map 32", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA0, 0x80}, "{:{}}"},
        {"nested",
         {0x93, 0x81, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 's', 0x91, 0x80},
         R"([{a:[s1,s2]},"s",[{}]])"},
        {"empty input", {}, "~", 0},
        {"two fixints", {0x01, 0x02}, "s1", 1},
        {"array then junk", {0x91, 0x01, 0xC1, 0xC1}, "[s1]", 2},
        {"nil then more", {0xC0, 0x01}, "~", 1},
        // Containers cut short keep the items read.
        {"array missing an item", {0x92, 0x01}, "[s1]"},
        {"map missing a value", {0x82, 0xA1, 'a', 0x01, 0xA1, 'b'}, "{a:s1}"},
        {"nested cut short", {0x92, 0x92, 0x01}, "[[s1]]"},
        {"nested maps cut short",
         {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x82, 0xA1, 'y', 0x02, 0xA1, 'x', 0x93, 0x03},
         "{a:{x:[s3],y:s2},b:s1}"},
        {"array 32 announcing 2^32-1", {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x07}, "[s7]"},
        {"map 32 announcing 2^32-1", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'k', 0x07}, "{k:s7}"},
    });
}

TEST(MessagePackReader, RepeatedKeysReuseTheirField) {
    ExpectReads({
        {"scalar overwrites", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, "{a:s2}"},
        {"nil keeps", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, "{a:s1}"},
        {"maps merge",
         {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02},
         "{a:{x:s1,y:s2}}"},
        // The second array fills the existing collection from index 0.
        {"arrays overlay",
         {0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03},
         "{a:[s3,s2]}"},
        // A scalar after a container under the same key is that key's value,
        // not taken for the next key.
        {"scalar replaces array", {0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x05}, "{a:s5}"},
        {"scalar replaces map", {0x82, 0xA1, 'a', 0x80, 0xA1, 'a', 0xA1, 'z'}, R"({a:"z"})"},
    });
}

TEST(MessagePackReader, RefusesUnusedFormatsAndNonStringKeysAtTheirOneBasedOffset) {
    const char* keys = " Map keys must be strings.";
    ExpectReads({
        {"never used", {0xC1}, Invalid(1), 1},
        {"ext 8", {0xC7, 0x01, 0x01, 0x00}, Invalid(1), 1},
        {"ext 32", {0xC9}, Invalid(1), 1},
        {"fixext 1", {0xD4, 0x01, 0x00}, Invalid(1), 1},
        {"fixext 16", {0xD8}, Invalid(1), 1},
        {"inside an array", {0x92, 0x01, 0xC1}, Invalid(3), 3},
        {"as a map value", {0x81, 0xA1, 'k', 0xD5}, Invalid(4), 4},
        {"fixint key", {0x81, 0x01, 0x02}, Invalid(2, keys), 2},
        {"bin key", {0x81, 0xC4, 0x01, 'k', 0x02}, Invalid(2, keys), 2},
        {"nil key", {0x81, 0xC0, 0x02}, Invalid(2, keys), 2},
        {"second key", {0x82, 0xA1, 'a', 0x01, 0x90}, Invalid(5, keys), 5},
    });
}

TEST(MessagePackReader, ReportsTruncatedDataWhereItStarts) {
    ExpectReads({
        // Numbers, lengths and counts use the message of their width.
        {"uint 8", {0xCC}, Truncated(8, 1), 1},
        {"int 16", {0xD1, 0x01}, Truncated(16, 1), 1},
        {"float 32", {0xCA, 0, 0}, Truncated(32, 1), 1},
        {"uint 64", {0xCF, 0, 0, 0, 0, 0, 0, 0}, Truncated(64, 1), 1},
        {"str 8 length", {0xD9}, Truncated(8, 1), 1},
        {"array 16 count", {0xDC, 0x00}, Truncated(16, 1), 1},
        {"map 32 count", {0xDF, 0, 0, 0}, Truncated(32, 1), 1},
        {"str 8 key length", {0x81, 0xD9}, Truncated(8, 2), 2},
        // Strings and raw bytes name their size and where their bytes start.
        {"fixstr", {0xA5, 'a', 'b'}, Data("String of size 5 at position 1 is truncated."), 1},
        {"str 32 of 2^32-1",
         {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
         Data("String of size 4294967295 at position 5 is truncated."),
         5},
        {"map key", {0x81, 0xA2, 'k'}, Data("String of size 2 at position 2 is truncated."), 2},
        {"bin 8", {0xC4, 0x05, 0x00}, Data("Raw bytes of size 5 at position 2 are truncated."), 2},
        {"bin 16",
         {0xC5, 0x01, 0x00},
         Data("Raw bytes of size 256 at position 3 are truncated."),
         3},
    });
}

TEST(MessagePackReader, ReadsNestingUpToTheLimitAndRefusesItBeyond) {
    Bytes arrays(kMaxMessagePackDepth, 0x91);
    Bytes maps;
    for (std::size_t i = 0; i < kMaxMessagePackDepth; ++i) {
        maps.insert(maps.end(), {0x81, 0xA1, 'k'});
    }
    for (Bytes bytes : {arrays, maps}) {
        bytes.push_back(0x2A);
        Tavo::MessagePackReadResult read = ReadMessagePack(bytes.data(), bytes.size());
        ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
        EXPECT_EQ(read.bytesConsumed, bytes.size());
        EXPECT_EQ(TavoTest::NestedLevels(read.result.Value()), kMaxMessagePackDepth);
    }
    const char* deeper = " Nesting deeper than 1000 levels.";
    Bytes wide = arrays;  // the 1001st level as an array 32
    wide.insert(wide.end(), {0xDD, 0x00, 0x00, 0x00, 0x01, 0x01});
    arrays.push_back(0x91);
    maps.insert(maps.end(), {0x81, 0xA1, 'k'});
    ExpectReads({
        {"arrays", arrays, Invalid(1001, deeper), 1001},
        {"maps", maps, Invalid(3001, deeper), 3001},
        {"array 32", wide, Invalid(1001, deeper), 1001},
    });
}

TEST(MessagePackReader, AnnouncedCountsDoNotMultiplyMemoryThroughNesting) {
    // 1000 nested arrays, each announcing 2^32-1 items, around 1 MiB of
    // payload: reserving from each announcement would ask for 1000 times the
    // input in elements.
    Bytes bytes;
    for (std::size_t i = 0; i < kMaxMessagePackDepth; ++i) {
        bytes.insert(bytes.end(), {0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
    }
    const std::size_t payload = std::size_t{1} << 20;
    bytes.insert(bytes.end(), {0xC6, 0x00, 0x10, 0x00, 0x00});
    bytes.resize(bytes.size() + payload, 0xAB);
    Tavo::MessagePackReadResult read = ReadMessagePack(bytes.data(), bytes.size());
    ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
    EXPECT_EQ(read.bytesConsumed, bytes.size());
    EXPECT_EQ(TavoTest::NestedLevels(read.result.Value()), kMaxMessagePackDepth);
}

}  // namespace
