#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/MessagePack.h"
#include "tests/formats/TypedText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Tavo::BindingProperty;
using Tavo::ReadMessagePack;
using TavoTest::TypedText;

struct Row {
    const char* name;
    Bytes bytes;
    std::string typed;  // TypedText of the value read
};

void ExpectReads(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Tavo::MessagePackReadResult read = ReadMessagePack(row.bytes.data(), row.bytes.size());
        ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
        EXPECT_EQ(TypedText(read.result.Value()), row.typed);
        EXPECT_EQ(read.bytesConsumed, row.bytes.size());
    }
}

TEST(MessagePackReader, KindFollowsTheFormatByteNotTheValue) {
    ExpectReads({
        // Fixints are signed; uint formats unsigned; int formats sign-extended.
        {"positive fixint", {0x2A}, "s42"},
        {"fixint 0", {0x00}, "s0"},
        {"fixint 127", {0x7F}, "s127"},
        {"negative fixint -1", {0xFF}, "s-1"},
        {"negative fixint -32", {0xE0}, "s-32"},
        {"uint 8", {0xCC, 0x2A}, "u42"},
        {"uint 16", {0xCD, 0xFF, 0xFE}, "u65534"},
        {"uint 32", {0xCE, 0xFF, 0xFF, 0xFF, 0xFF}, "u4294967295"},
        {"uint 64",
         {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "u18446744073709551615"},
        {"int 8", {0xD0, 0xFF}, "s-1"},
        {"int 8 positive", {0xD0, 0x7F}, "s127"},
        {"int 16", {0xD1, 0x80, 0x00}, "s-32768"},
        {"int 32", {0xD2, 0x80, 0x00, 0x00, 0x00}, "s-2147483648"},
        {"int 64", {0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "s-9223372036854775808"},
        {"int 64 positive", {0xD3, 0, 0, 0, 0, 0, 0, 0x01, 0x00}, "s256"},
        // Floats; float 32 widens exactly.
        {"float 32", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, "f1.5"},
        {"float 32 of 0.1", {0xCA, 0x3D, 0xCC, 0xCC, 0xCD}, "f0.10000000149011612"},
        {"float 64",
         {0xCB, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A},
         "f0.10000000000000001"},
        // Nil, bools.
        {"nil", {0xC0}, "~"},
        {"false", {0xC2}, "false"},
        {"true", {0xC3}, "true"},
    });
}

TEST(MessagePackReader, ReadsStringsAndBlobsAsTheirBytes) {
    Bytes str32 = {0xDB, 0x00, 0x00, 0x00, 0x03, 'x', 'y', 'z'};
    ExpectReads({
        {"fixstr", {0xA2, 'h', 'i'}, R"("hi")"},
        {"empty fixstr", {0xA0}, R"("")"},
        {"fixstr with NUL", {0xA3, 'a', 0x00, 'b'}, "\"a\\0b\""},
        {"str 8", {0xD9, 0x01, 'q'}, R"("q")"},
        {"str 16", {0xDA, 0x00, 0x02, 'o', 'k'}, R"("ok")"},
        {"str 32", str32, R"("xyz")"},
        {"bin 8", {0xC4, 0x02, 0xFF, 0x00}, "bff00"},
        {"bin 16", {0xC5, 0x00, 0x01, 0x7F}, "b7f"},
        {"bin 32", {0xC6, 0x00, 0x00, 0x00, 0x00}, "b"},
    });
}

TEST(MessagePackReader, ReadsContainers) {
    ExpectReads({
        {"fixarray", {0x92, 0x01, 0xC0}, "[s1,~]"},
        {"empty fixarray", {0x90}, "[]"},
        {"map iterates by key", {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}, "{a:s2,b:s1}"},
        {"empty fixmap", {0x80}, "{}"},
        {"map with nil value", {0x81, 0xA1, 'k', 0xC0}, "{k:~}"},
        {"array 16", {0xDC, 0x00, 0x02, 0xC3, 0xC2}, "[true,false]"},
        {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x01, 0x90}, "[[]]"},
        {"map 16", {0xDE, 0x00, 0x01, 0xD9, 0x01, 'k', 0x91, 0x05}, "{k:[s5]}"},
        {"map 32", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA0, 0x80}, "{:{}}"},
        {"nested",
         {0x93, 0x81, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 's', 0x91, 0x80},
         R"([{a:[s1,s2]},"s",[{}]])"},
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
        // A scalar after a container under the same key is read as that
        // key's value, not taken for the next key.
        {"scalar replaces array", {0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x05}, "{a:s5}"},
        {"scalar replaces map", {0x82, 0xA1, 'a', 0x80, 0xA1, 'a', 0xA1, 'z'}, R"({a:"z"})"},
    });
}

TEST(MessagePackReader, StopsAfterTheFirstValue) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t consumed;
        std::string typed;
    };
    const Case cases[] = {
        {"empty input", {}, 0, "~"},
        {"two fixints", {0x01, 0x02}, 1, "s1"},
        {"array then junk", {0x91, 0x01, 0xC1, 0xC1}, 2, "[s1]"},
        {"empty map then more", {0x80, 0x80}, 1, "{}"},
        {"nil then more", {0xC0, 0x01}, 1, "~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tavo::MessagePackReadResult read = ReadMessagePack(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
        EXPECT_EQ(read.bytesConsumed, c.consumed);
        EXPECT_EQ(TypedText(read.result.Value()), c.typed);
    }
}

TEST(MessagePackReader, ContainersCutShortKeepTheItemsRead) {
    ExpectReads({
        {"array missing an item", {0x92, 0x01}, "[s1]"},
        {"array with no item", {0x93}, "[]"},
        {"map missing a value", {0x82, 0xA1, 'a', 0x01, 0xA1, 'b'}, "{a:s1}"},
        {"nested", {0x92, 0x92, 0x01}, "[[s1]]"},
        {"array 32 announcing 2^32-1", {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x07}, "[s7]"},
        {"map 32 announcing 2^32-1", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'k', 0x07}, "{k:s7}"},
    });
}

TEST(MessagePackReader, AnnouncedCountsDoNotMultiplyMemoryThroughNesting) {
    // 1000 nested arrays, each announcing 2^32-1 items, around 1 MiB of
    // payload: reserving from each announcement would ask for 1000 times
    // the input in elements.
    Bytes bytes;
    for (std::size_t i = 0; i < Tavo::kMaxMessagePackDepth; ++i) {
        bytes.insert(bytes.end(), {0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
    }
    const std::size_t payload = std::size_t{1} << 20;
    bytes.insert(bytes.end(), {0xC6, 0x00, 0x10, 0x00, 0x00});
    bytes.resize(bytes.size() + payload, 0xAB);
    Tavo::MessagePackReadResult read = ReadMessagePack(bytes.data(), bytes.size());
    ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
    EXPECT_EQ(read.bytesConsumed, bytes.size());
    const BindingProperty* node = &read.result.Value();
    for (std::size_t i = 0; i < Tavo::kMaxMessagePackDepth; ++i) {
        ASSERT_EQ(node->Size(), 1u);
        node = &node->ElementAt(0);
    }
    EXPECT_EQ(node->GetBlob().size(), payload);
}

TEST(MessagePackReader, ReadsNestingUpToTheDepthLimit) {
    Bytes arrays(Tavo::kMaxMessagePackDepth, 0x91);
    arrays.push_back(0x2A);
    Bytes maps;
    for (std::size_t i = 0; i < Tavo::kMaxMessagePackDepth; ++i) {
        maps.insert(maps.end(), {0x81, 0xA1, 'k'});
    }
    maps.push_back(0xC3);
    for (const Bytes& bytes : {arrays, maps}) {
        Tavo::MessagePackReadResult read = ReadMessagePack(bytes.data(), bytes.size());
        ASSERT_TRUE(read.result.IsOk()) << read.result.ErrorMessage();
        EXPECT_EQ(read.bytesConsumed, bytes.size());
        const BindingProperty* node = &read.result.Value();
        std::size_t levels = 0;
        while (node->Size() == 1 && (node->GetKind() == BindingProperty::Kind::Collection ||
                                     node->GetKind() == BindingProperty::Kind::Structure)) {
            ++levels;
            node = node->GetKind() == BindingProperty::Kind::Collection ? &node->ElementAt(0)
                                                                        : &node->Find("k");
        }
        EXPECT_EQ(levels, Tavo::kMaxMessagePackDepth);
    }
}

}  // namespace
