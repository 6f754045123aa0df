#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/MessagePack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Row {
    const char* name;
    Bytes bytes;
    std::string message;
    std::size_t consumed;  // where reading stopped
};

void ExpectFails(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Tavo::MessagePackReadResult read =
            Tavo::ReadMessagePack(row.bytes.data(), row.bytes.size());
        EXPECT_FALSE(read.result.IsOk());
        EXPECT_EQ(read.result.ErrorMessage(), row.message);
        EXPECT_EQ(read.result.Value().Size(), 1u);  // only {"error": message}
        EXPECT_EQ(read.bytesConsumed, row.consumed);
    }
}

TEST(MessagePackReaderError, RefusesUnusedAndExtensionFormatsAtTheirOneBasedOffset) {
    ExpectFails({
        {"never used", {0xC1}, "Invalid MessagePack data at position 1.", 1},
        {"ext 8", {0xC7, 0x01, 0x01, 0x00}, "Invalid MessagePack data at position 1.", 1},
        {"ext 16", {0xC8}, "Invalid MessagePack data at position 1.", 1},
        {"ext 32", {0xC9}, "Invalid MessagePack data at position 1.", 1},
        {"fixext 1", {0xD4, 0x01, 0x00}, "Invalid MessagePack data at position 1.", 1},
        {"fixext 16", {0xD8}, "Invalid MessagePack data at position 1.", 1},
        {"inside an array", {0x92, 0x01, 0xC1}, "Invalid MessagePack data at position 3.", 3},
        {"as a map value", {0x81, 0xA1, 'k', 0xD5}, "Invalid MessagePack data at position 4.", 4},
    });
}

TEST(MessagePackReaderError, RequiresStringMapKeys) {
    ExpectFails({
        {"fixint key",
         {0x81, 0x01, 0x02},
         "Invalid MessagePack data at position 2. Map keys must be strings.",
         2},
        {"bin key",
         {0x81, 0xC4, 0x01, 'k', 0x02},
         "Invalid MessagePack data at position 2. Map keys must be strings.",
         2},
        {"nil key",
         {0x81, 0xC0, 0x02},
         "Invalid MessagePack data at position 2. Map keys must be strings.",
         2},
        {"second key",
         {0x82, 0xA1, 'a', 0x01, 0x90},
         "Invalid MessagePack data at position 5. Map keys must be strings.",
         5},
    });
}

TEST(MessagePackReaderError, ReportsTruncatedNumbersWhereTheyStart) {
    const char* k8 = "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.";
    const char* k16 = "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.";
    const char* k32 = "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.";
    const char* k64 = "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.";
    ExpectFails({
        {"uint 8", {0xCC}, k8, 1},
        {"int 8", {0xD0}, k8, 1},
        {"uint 16", {0xCD, 0x01}, k16, 1},
        {"int 16", {0xD1}, k16, 1},
        {"uint 32", {0xCE, 0, 0, 0}, k32, 1},
        {"int 32", {0xD2, 0}, k32, 1},
        {"float 32", {0xCA, 0, 0}, k32, 1},
        {"uint 64", {0xCF, 0, 0, 0, 0, 0, 0, 0}, k64, 1},
        {"int 64", {0xD3}, k64, 1},
        {"float 64", {0xCB, 1, 2, 3}, k64, 1},
        // Lengths and counts use the message of their width.
        {"str 8 length", {0xD9}, k8, 1},
        {"bin 8 length", {0xC4}, k8, 1},
        {"str 16 length", {0xDA, 0x00}, k16, 1},
        {"bin 16 length", {0xC5}, k16, 1},
        {"array 16 count", {0xDC, 0x00}, k16, 1},
        {"map 16 count", {0xDE}, k16, 1},
        {"str 32 length", {0xDB, 0, 0}, k32, 1},
        {"bin 32 length", {0xC6}, k32, 1},
        {"array 32 count", {0xDD}, k32, 1},
        {"map 32 count", {0xDF, 0, 0, 0}, k32, 1},
        {"str 8 key length",
         {0x81, 0xD9},
         "Invalid MessagePack data. 8-bit integer value at position 2 is truncated.",
         2},
    });
}

TEST(MessagePackReaderError, ReportsTruncatedBytesWithTheirSizeAndStart) {
    ExpectFails({
        {"fixstr",
         {0xA5, 'a', 'b'},
         "Invalid MessagePack data. String of size 5 at position 1 is truncated.",
         1},
        {"str 8",
         {0xD9, 0x03, 'a'},
         "Invalid MessagePack data. String of size 3 at position 2 is truncated.",
         2},
        {"str 32 of 2^32-1",
         {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
         "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.",
         5},
        {"map key",
         {0x81, 0xA2, 'k'},
         "Invalid MessagePack data. String of size 2 at position 2 is truncated.",
         2},
        {"bin 8",
         {0xC4, 0x05, 0x00},
         "Invalid MessagePack data. Raw bytes of size 5 at position 2 are truncated.",
         2},
        {"bin 16",
         {0xC5, 0x01, 0x00},
         "Invalid MessagePack data. Raw bytes of size 256 at position 3 are truncated.",
         3},
    });
}

TEST(MessagePackReaderError, RejectsNestingBeyondTheLimit) {
    const std::size_t limit = Tavo::kMaxMessagePackDepth;
    Bytes arrays(limit + 1, 0x91);
    Bytes maps;
    for (std::size_t i = 0; i <= limit; ++i) {
        maps.insert(maps.end(), {0x81, 0xA1, 'k'});
    }
    Bytes wide(limit, 0x91);  // the 1001st level as an array 32
    wide.insert(wide.end(), {0xDD, 0x00, 0x00, 0x00, 0x01, 0x01});
    const std::string tail = ". Nesting deeper than 1000 levels.";
    ExpectFails({
        {"arrays", arrays, "Invalid MessagePack data at position 1001" + tail, 1001},
        {"maps", maps, "Invalid MessagePack data at position 3001" + tail, 3001},
        {"array 32", wide, "Invalid MessagePack data at position 1001" + tail, 1001},
    });
}

}  // namespace
