#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"

namespace {

using Tavo::BindingProperty;
using Tavo::ParseJson;
using Tavo::WriteJson;

enum class Shade : std::int32_t { Light = 0, Dark = 1 };

BindingProperty Read(const std::string& json) {
    Tavo::BindingResult result = ParseJson(json);
    EXPECT_TRUE(result.IsOk()) << json << ": " << result.ErrorMessage();
    return std::move(result.Value());
}

TEST(JsonWriter, CompactLayoutHasNoBlanksAndOrdersFieldsByName) {
    EXPECT_EQ(WriteJson(Read(R"({ "b" : 1, "a" : [ 1, 2 ], "c" : "x" })")),
              R"({"a":[1,2],"b":1,"c":"x"})");
    EXPECT_EQ(WriteJson(Read(R"({"b":1,"a":2,"B":3})"), nullptr, ""), R"({"B":3,"a":2,"b":1})");
}

TEST(JsonWriter, WritesAnEmptyRootAsTheEmptyTextAndEmptyElementsAsNull) {
    EXPECT_EQ(WriteJson(BindingProperty()), "");
    EXPECT_EQ(WriteJson(BindingProperty(), nullptr, "\n"), "");
    BindingProperty list;
    list.Append();
    EXPECT_EQ(WriteJson(list), "[null]");
    BindingProperty object;
    object.Field("a");
    EXPECT_EQ(WriteJson(object), R"({"a":null})");
}

TEST(JsonWriter, IndentedLayoutUsesFourBlanksAndTheGivenLineBreak) {
    const BindingProperty value = Read(R"({"b":{},"a":[1,[]],"c":{"d":true}})");
    const std::string lf =
        "{\n"
        "    \"a\": [\n"
        "        1,\n"
        "        []\n"
        "    ],\n"
        "    \"b\": {},\n"
        "    \"c\": {\n"
        "        \"d\": true\n"
        "    }\n"
        "}";
    EXPECT_EQ(WriteJson(value, nullptr, "\n"), lf);
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(WriteJson(value, nullptr, "\r\n"), crlf);
    // A line feed inside a string is escaped, so it is never replaced.
    EXPECT_EQ(WriteJson(Read(R"(["a\nb"])"), nullptr, "<br>"), "[<br>    \"a\\nb\"<br>]");
}

TEST(JsonWriter, WritesFloatsInTheirShortestFormAndNonFiniteAsNull) {
    struct Row {
        double value;
        const char* json;
    };
    const Row rows[] = {
        {0.5, "0.5"},
        {3.0, "3.0"},
        {-0.0, "-0.0"},
        {1e30, "1e30"},
        {0.1, "0.1"},
        {1e-7, "1e-7"},
        {-29.279329430775478, "-29.279329430775478"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        BindingProperty list;
        list.Append().SetFloat(row.value);
        list.Append().SetBool(true);
        EXPECT_EQ(WriteJson(list), std::string("[") + row.json + ",true]");
        if (std::isfinite(row.value)) {  // and it reads back as the same double
            BindingProperty back = Read(row.json);
            EXPECT_EQ(std::signbit(back.GetFloat()), std::signbit(row.value));
            EXPECT_EQ(back.GetFloat(), row.value);
        }
    }
}

TEST(JsonWriter, WritesIntegersWholeAndEscapesStringsMinimally) {
    BindingProperty list;
    list.Append().SetSigned(std::numeric_limits<std::int64_t>::min());
    list.Append().SetUnsigned(std::numeric_limits<std::uint64_t>::max());
    list.Append().SetSigned(std::int32_t{-1});
    list.Append().SetBool(false);
    list.Append().SetString(std::string_view("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f\xC3\xA9"));
    list.Append().SetString(std::string_view("a\0b", 3));  // NULs come from MessagePack
    EXPECT_EQ(WriteJson(list),
              "[-9223372036854775808,18446744073709551615,-1,false,"
              "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001F\x7f\xC3\xA9\",\"a\\u0000b\"]");
}

TEST(JsonWriter, WritesBlobsAsBase64Strings) {
    BindingProperty object;
    object.Field("bytes").SetBlob(std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0xFF});
    object.Field("none").SetBlob(std::vector<std::uint8_t>{});
    EXPECT_EQ(WriteJson(object), R"({"bytes":"AAEC/w==","none":""})");
}

TEST(JsonWriter, WritesEnumsByRegisteredNameOrElseTheirNumber) {
    Tavo::BindingRegistry registry;
    registry.DeclareEnum<Shade>("Shade").AddValue("Light", 0).AddValue("Dark", 1);
    BindingProperty list;
    list.Append().SetEnum(1, Tavo::StaticType::Anonymous<Shade>());
    list.Append().SetEnum(-1, Tavo::StaticType::Anonymous<Shade>());
    list.Append().SetEnum(7, Tavo::StaticType::Anonymous<int>());  // not a registered enum
    EXPECT_EQ(WriteJson(list, &registry), R"(["Dark",-1,7])");
    EXPECT_EQ(WriteJson(list), "[1,-1,7]");
}

TEST(JsonWriter, RoundTripsDocumentsInBothLayouts) {
    const char* documents[] = {
        "0",
        "-1",
        "true",
        R"("text")",
        "[]",
        "{}",
        R"([1,-2,0.25,"x",[null,{}],{"k":false}])",
        R"({"":1,"a":{"b":{"c":[1,2,3]}},"z":"\u00e9"})",
        "[18446744073709551615,-9223372036854775808,1.0e300]",
    };
    for (const char* json : documents) {
        SCOPED_TRACE(json);
        const BindingProperty value = Read(json);
        EXPECT_EQ(Read(WriteJson(value)), value);
        EXPECT_EQ(Read(WriteJson(value, nullptr, "\r\n")), value);
    }
}

TEST(JsonWriter, WritesTreesAtTheDepthLimit) {
    const std::size_t depth = Tavo::kMaxJsonDepth;
    const std::string json = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(WriteJson(Read(json)), json);
    const std::string indented = WriteJson(Read(json), nullptr, "\n");
    EXPECT_EQ(Read(indented), Read(json));
}

}  // namespace
