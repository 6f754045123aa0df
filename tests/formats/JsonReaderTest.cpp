#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "formats/JsonReader.h"
#include "tests/formats/TypedText.h"

namespace {

using Tavo::BindingProperty;
using Tavo::ParseJson;
using TavoTest::TypedText;

struct Row {
    std::string json;
    std::string typed;  // TypedText of the value read
};

void ExpectReads(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        Tavo::BindingResult result = ParseJson(row.json);
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        EXPECT_EQ(TypedText(result.Value()), row.typed);
    }
}

TEST(JsonReader, MapsNumbersByTheirFormAndRange) {
    ExpectReads({
        // Non-negative integers are unsigned, even when small.
        {"5", "u5"},
        {"0", "u0"},
        {"4294967295", "u4294967295"},
        {"4294967296", "u4294967296"},
        {"18446744073709551615", "u18446744073709551615"},
        // Negative integers are signed, "-0" too.
        {"-5", "s-5"},
        {"-0", "s0"},
        {"-2147483648", "s-2147483648"},
        {"-2147483649", "s-2147483649"},
        {"-9223372036854775808", "s-9223372036854775808"},
        // A fraction, an exponent or a 64-bit overflow gives a float.
        {"5.0", "f5"},
        {"5e0", "f5"},
        {"0.5", "f0.5"},
        {"-1.5E+2", "f-150"},
        {"18446744073709551616", "f1.8446744073709552e+19"},
        {"-9223372036854775809", "f-9.2233720368547758e+18"},
    });
}

TEST(JsonReader, ReadsFloatsAsTheNearestDouble) {
    // Shortest texts of doubles that a conversion without full precision
    // misses by a unit in the last place.
    for (const char* text :
         {"-29.279329430775478", "1.3927926388013963e-143", "-6.255596396381198e-142",
          "1.7161392603081718e277", "1.921348183776044e-223", "0.1", "2.2250738585072014e-308",
          "4.9e-324", "1.7976931348623157e308", "9007199254740993.0",
          // Zero and underflow: zero significands, subnormals, below the least.
          "0e-324", "-0.0e-400", "0.000e5", "2.4703282292062328e-324", "1e-400",
          "123456789012345678901234567890e-350"}) {
        SCOPED_TRACE(text);
        Tavo::BindingResult result = ParseJson(text);
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        ASSERT_EQ(result.Value().GetKind(), BindingProperty::Kind::Float);
        EXPECT_EQ(result.Value().GetFloat(), std::strtod(text, nullptr));
    }
}

TEST(JsonReader, MapsOtherValuesToTheirKinds) {
    ExpectReads({
        {"true", "true"},
        {"false", "false"},
        {R"("text")", R"("text")"},
        {R"("")", R"("")"},
        {R"("\u00e9\ud83d\ude00\n\"\\\/")", "\"\xC3\xA9\xF0\x9F\x98\x80\n\"\\/\""},
        {"[]", "[]"},
        {"{}", "{}"},
        {R"([1,"a",[true],{"k":-1}])", R"([u1,"a",[true],{k:s-1}])"},
    });
}

TEST(JsonReader, BlankDocumentsAndRootNullReadAsEmpty) {
    for (const char* text : {"", " ", " \t\r\n ", "null", " null\n"}) {
        SCOPED_TRACE(text);
        Tavo::BindingResult result = ParseJson(text);
        EXPECT_TRUE(result.IsOk());
        EXPECT_TRUE(result.Value().IsEmpty());
    }
    Tavo::BindingResult none = ParseJson(static_cast<const char*>(nullptr));
    EXPECT_TRUE(none.IsOk());
    EXPECT_TRUE(none.Value().IsEmpty());
}

TEST(JsonReader, NullAppendsInsideArraysAndLeavesOtherTargetsEmpty) {
    ExpectReads({
        {"[1, null, 2]", "[u1,~,u2]"},
        {"[null]", "[~]"},
        {R"({"a":null})", "{a:~}"},
        {R"([{"a":null},null])", "[{a:~},~]"},
    });
}

TEST(JsonReader, RepeatedMembersReuseTheirField) {
    ExpectReads({
        {R"({"a":1,"a":2})", "{a:u2}"},
        {R"({"a":{"x":1},"a":{"y":2}})", "{a:{x:u1,y:u2}}"},
        {R"({"a":[1],"a":[2]})", "{a:[u1,u2]}"},
        {R"({"a":1,"a":null})", "{a:u1}"},
        {R"({"a":1,"a":[2]})", "{a:[u2]}"},
        {R"({"a":[1],"a":{"x":1}})", "{a:{x:u1}}"},
        {R"({"a":{"x":[1]},"a":{"x":[2],"y":3}})", "{a:{x:[u1,u2],y:u3}}"},
    });
}

TEST(JsonReader, FieldsIterateInByteOrderOfTheirNames) {
    ExpectReads({
        {R"({"b":1,"a":2})", "{a:u2,b:u1}"},
        {R"({"b":1,"a":2,"B":3,"\u00e9":4})", "{B:u3,a:u2,b:u1,\xC3\xA9:u4}"},
    });
}

TEST(JsonReader, TextsEndAtTheirFirstNul) {
    ExpectReads({
        {R"("ab\u0000cd")", R"("ab")"},
        {R"("\u0000")", R"("")"},
        {R"({"k\u0000x":1})", "{k:u1}"},
    });
    // The owned-text overload parses up to the first NUL of its characters.
    const std::string owned("[1]\0 trailing", 13);
    Tavo::BindingResult result = ParseJson(owned);
    ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
    EXPECT_EQ(TypedText(result.Value()), "[u1]");
}

TEST(JsonReader, ReadsNestingUpToTheDepthLimit) {
    const std::size_t depth = Tavo::kMaxJsonDepth;
    std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    std::string objects;
    for (std::size_t i = 0; i < depth; ++i) {
        objects += R"({"a":)";
    }
    objects += "1" + std::string(depth, '}');
    for (const std::string& text : {arrays, objects}) {
        Tavo::BindingResult result = ParseJson(text);
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        const BindingProperty* node = &result.Value();
        std::size_t levels = 0;
        while (node->GetKind() == BindingProperty::Kind::Collection ||
               node->GetKind() == BindingProperty::Kind::Structure) {
            ++levels;
            node = node->GetKind() == BindingProperty::Kind::Collection ? &node->ElementAt(0)
                                                                        : &node->Find("a");
        }
        EXPECT_EQ(levels, depth);
    }
}

}  // namespace
