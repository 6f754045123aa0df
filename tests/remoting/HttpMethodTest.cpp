#include "remoting/HttpMethod.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using Tavo::ContentFormat;
using Tavo::HttpMethod;

TEST(HttpMethod, NamesOnlyTheSevenFixedMethods) {
    struct Row {
        std::uint32_t code;
        const char* name;
    };
    const Row rows[] = {
        {1, "DELETE"},
        {2, "GET"},
        {3, "HEAD"},
        {4, "OPTIONS"},
        {5, "PATCH"},
        {6, "POST"},
        {7, "PUT"},
        // A method named by text, no method and unknown codes have no name.
        {8, ""},
        {0, ""},
        {9, ""},
        {0xFFFFFFFFu, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(Tavo::MethodName(row.code), row.name);
    }
    EXPECT_STREQ(Tavo::MethodName(HttpMethod::Patch), "PATCH");
}

TEST(HttpMethod, FromHostKeepsOneToEightAndTurnsTheRestIntoNone) {
    for (std::uint32_t code = 1; code <= 8; ++code) {
        SCOPED_TRACE(code);
        EXPECT_EQ(Tavo::MethodFromHost(code), static_cast<HttpMethod>(code));
    }
    for (std::uint32_t code : {0u, 9u, 100u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(Tavo::MethodFromHost(code), HttpMethod::None);
    }
}

struct FormatRow {
    const char* contentType;
    ContentFormat body;
    ContentFormat argument;
};

const FormatRow kFormatRows[] = {
    // MessagePack, with its extension type, whatever the case.
    {"application/x-msgpack", ContentFormat::MessagePack, ContentFormat::MessagePack},
    {"application/x-msgpack-ext", ContentFormat::MessagePack, ContentFormat::MessagePack},
    {"APPLICATION/X-MSGPACK; q=1", ContentFormat::MessagePack, ContentFormat::MessagePack},
    // JSON; the API variant is a body type only.
    {"application/json", ContentFormat::Json, ContentFormat::Json},
    {"Application/JSON; charset=utf-8", ContentFormat::Json, ContentFormat::Json},
    {"application/vnd.api+json", ContentFormat::Json, ContentFormat::Text},
    // YAML: one type for bodies, another for argument values.
    {"application/x-yaml", ContentFormat::Yaml, ContentFormat::Text},
    {"text/x-yaml", ContentFormat::Unsupported, ContentFormat::Yaml},
    {"Text/X-YAML;charset=utf-8", ContentFormat::Unsupported, ContentFormat::Yaml},
    // Raw bytes are an argument-value type only.
    {"application/octet-stream", ContentFormat::Unsupported, ContentFormat::Bytes},
    // Everything else.
    {"application/xml", ContentFormat::Unsupported, ContentFormat::Text},
    {"", ContentFormat::Unsupported, ContentFormat::Text},
    {"application/jso", ContentFormat::Unsupported, ContentFormat::Text},  // shorter than a type
    {" application/json", ContentFormat::Unsupported, ContentFormat::Text},
    {"text/plain", ContentFormat::Unsupported, ContentFormat::Text},
};

TEST(ContentType, BodyFormatMatchesCaseInsensitivePrefixesInOrder) {
    for (const FormatRow& row : kFormatRows) {
        SCOPED_TRACE(row.contentType);
        EXPECT_EQ(Tavo::BodyFormat(row.contentType), row.body);
    }
}

TEST(ContentType, ArgumentValueFormatUsesTheArgumentTypes) {
    for (const FormatRow& row : kFormatRows) {
        SCOPED_TRACE(row.contentType);
        EXPECT_EQ(Tavo::ArgumentValueFormat(row.contentType), row.argument);
    }
}

TEST(ContentType, PrefixComparisonFoldsAsciiLettersOnly) {
    EXPECT_TRUE(Tavo::StartsWithIgnoringCase("ABC-def", "abc-DEF"));
    EXPECT_FALSE(
        Tavo::StartsWithIgnoringCase("a[", "a{"));  // '{' is '[' | 0x20, yet neither is a letter
    EXPECT_FALSE(
        Tavo::StartsWithIgnoringCase(std::string_view("ab\0c", 4), std::string_view("ab\0d", 4)));
    EXPECT_TRUE(Tavo::StartsWithIgnoringCase("anything", ""));
    // Bytes above 0x7F are compared as they are.
    EXPECT_FALSE(Tavo::StartsWithIgnoringCase("\xC3\xA9", "\xC3\x89"));
}

}  // namespace
