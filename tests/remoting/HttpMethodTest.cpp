#include "remoting/HttpMethod.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using Tavo::ContentFormat;
using Tavo::HttpMethod;

TEST(HttpMethod, NamesTheSevenFixedMethodsAndKeepsOnlyOneToEightFromTheHost) {
    const char* names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", ""};
    for (std::uint32_t code = 0; code <= 8; ++code) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(Tavo::MethodName(code), names[code]);
        EXPECT_EQ(Tavo::MethodFromHost(code), static_cast<HttpMethod>(code));
    }
    for (std::uint32_t code : {9u, 100u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(Tavo::MethodName(code), "");
        EXPECT_EQ(Tavo::MethodFromHost(code), HttpMethod::None);
    }
}

TEST(ContentType, BodyAndArgumentFormatsMatchPrefixesFoldingAsciiLettersOnly) {
    struct Row {
        const char* contentType;
        ContentFormat body;
        ContentFormat argument;
    };
    const Row rows[] = {
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
        {"application/jso", ContentFormat::Unsupported, ContentFormat::Text},
        {" application/json", ContentFormat::Unsupported, ContentFormat::Text},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.contentType);
        EXPECT_EQ(Tavo::BodyFormat(row.contentType), row.body);
        EXPECT_EQ(Tavo::ArgumentValueFormat(row.contentType), row.argument);
    }
    EXPECT_TRUE(Tavo::StartsWithIgnoringCase("ABC-def", "abc-DEF"));
    EXPECT_TRUE(Tavo::StartsWithIgnoringCase("anything", ""));
    // '{' is '[' | 0x20, yet neither is a letter; bytes above 0x7F and NUL
    // are compared as they are.
    EXPECT_FALSE(Tavo::StartsWithIgnoringCase("a[", "a{"));
    EXPECT_FALSE(Tavo::StartsWithIgnoringCase("\xC3\xA9", "\xC3\x89"));
    EXPECT_FALSE(
        Tavo::StartsWithIgnoringCase(std::string_view("ab\0c", 4), std::string_view("ab\0d", 4)));
}

}  // namespace
