// Reading JSON into dynamic values and writing them back.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "detail/JsonReaderProbe.h"
#include "detail/RapidJson.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "tests/formats/TypedText.h"

namespace {

using Tavo::BindingProperty;
using Tavo::kMaxJsonDepth;
using Tavo::ParseJson;
using Tavo::WriteJson;
using TavoTest::Outcome;

struct Row {
    std::string json;
    std::string expected;  // Outcome of the read
};

void ExpectReads(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json.substr(0, 40));
        EXPECT_EQ(Outcome(ParseJson(row.json)), row.expected);
    }
}

TEST(JsonReader, MapsNumbersByTheirFormAndRange) {
    ExpectReads({
        // Non-negative integers are unsigned, even when small; negative ones
        // (and "-0") signed.
        {"5", "u5"},
        {"4294967296", "u4294967296"},
        {"18446744073709551615", "u18446744073709551615"},
        {"-5", "s-5"},
        {"-0", "s0"},
        {"-2147483649", "s-2147483649"},
        {"-9223372036854775808", "s-9223372036854775808"},
        // A fraction, an exponent or a 64-bit overflow gives a float.
        {"5.0", "f5"},
        {"5e0", "f5"},
        {"-1.5E+2", "f-150"},
        {"18446744073709551616", "f1.8446744073709552e+19"},
        {"-9223372036854775809", "f-9.2233720368547758e+18"},
        // Beyond double, also where the tokenizer lets it through.
        {"1e400", "Error: Number too big to be stored in double. at offset 0."},
        {"[1, 31348623157e308]", "Error: Number too big to be stored in double. at offset 4."},
        {"{\"a\":-2e308}", "Error: Number too big to be stored in double. at offset 5."},
    });
}

TEST(JsonReader, ReadsFloatsAsTheNearestDouble) {
    // Texts a conversion without full precision misses by a unit in the last
    // place, and zero significands, subnormals and underflow.
    for (const char* text :
         {"-29.279329430775478", "1.3927926388013963e-143", "-6.255596396381198e-142",
          "1.7161392603081718e277", "1.921348183776044e-223", "0.1", "2.2250738585072014e-308",
          "4.9e-324", "1.7976931348623157e308", "9007199254740993.0", "0e-324", "-0.0e-400",
          "0.000e5", "2.4703282292062328e-324", "1e-400", "123456789012345678901234567890e-350"}) {
        SCOPED_TRACE(text);
        Tavo::BindingResult result = ParseJson(text);
        ASSERT_EQ(result.Value().GetKind(), BindingProperty::Kind::Float) << result.ErrorMessage();
        EXPECT_EQ(result.Value().GetFloat(), std::strtod(text, nullptr));
    }
}

TEST(JsonReader, MapsValuesToTheirKinds) {
    ExpectReads({
        {R"("")", R"("")"},
        {R"("\u00e9\ud83d\ude00\n\"\\\/")", "\"\xC3\xA9\xF0\x9F\x98\x80\n\"\\/\""},
        {R"([1,"a",[true],{"k":-1},{},[]])", R"([u1,"a",[true],{k:s-1},{},[]])"},
        // Blank documents and a root null read as empty.
        {" \t\r\n ", "~"},
        {" null\n", "~"},
        // Null appends inside arrays and leaves other targets empty.
        {"[1, null, 2]", "[u1,~,u2]"},
        {R"([{"a":null},null])", "[{a:~},~]"},
        // Fields iterate in byte order of their names.
        {R"({"b":1,"a":2,"B":3,"\u00e9":4})", "{B:u3,a:u2,b:u1,\xC3\xA9:u4}"},
        // Texts and names end at their first NUL.
        {R"("ab\u0000cd")", R"("ab")"},
        {R"({"k\u0000x":1})", "{k:u1}"},
        {std::string("[1]\0 trailing", 13), "[u1]"},
    });
    EXPECT_EQ(Outcome(ParseJson(static_cast<const char*>(nullptr))), "~");
}

// Only an escape can put a NUL into a text, so only texts with escapes are
// searched for one; the rest are taken as the reader decoded them.
TEST(JsonReader, SearchesForANulOnlyInTextsWithEscapes) {
    const std::uint64_t before = Tavo::detail::JsonTextsSearchedForNul();
    ExpectReads({{R"({"plain":"text","":"","q\"k":"a\"","nul":"x\u0000y","z":"ab\""})",
                  R"({:"",nul:"x",plain:"text",q"k:"a"",z:"ab""})"}});
    EXPECT_EQ(Tavo::detail::JsonTextsSearchedForNul() - before, 4u);

    // A text that is the whole document; escapes one character longer than
    // what they decode to.
    struct Case {
        const char* json;
        const char* read;
        std::uint64_t searched;
    };
    for (const Case& row :
         {Case{R"("plain")", R"("plain")", 0}, Case{R"("\n")", "\"\n\"", 1},
          Case{R"(["\\"])", R"(["\"])", 1}, Case{R"({"\"":"\/"})", R"({":"/"})", 2},
          Case{R"(  "x")", R"("x")", 0}}) {
        SCOPED_TRACE(row.json);
        const std::uint64_t start = Tavo::detail::JsonTextsSearchedForNul();
        ExpectReads({{row.json, row.read}});
        EXPECT_EQ(Tavo::detail::JsonTextsSearchedForNul() - start, row.searched);
    }
}

// Strings are decoded without touching the document: an escape moves the
// rest of a string into a buffer that grows; texts of every length around
// its sizes, escaped at the start, middle or end, read back whole, as keys
// and as values, and the buffer's reuse leaks nothing into the next string.
TEST(JsonReader, DecodesEscapedTextsOfAnyLength) {
    for (std::size_t length : {0, 1, 62, 63, 64, 65, 127, 128, 129, 1000, 70000}) {
        for (std::size_t at : {std::size_t{0}, length / 2, length}) {
            const std::string plain(length, 'x');
            std::string json = "\"" + plain.substr(0, at) + "\\u00e9\\n" + plain.substr(at) + "\"";
            const std::string decoded = plain.substr(0, at) + "\xC3\xA9\n" + plain.substr(at);
            SCOPED_TRACE(testing::Message() << length << " escaped at " << at);
            const std::string document =
                "{" + json + ":" + json + ",\"p\":\"" + plain + "\",\"q\":" + json + "}";
            Tavo::BindingResult result = ParseJson(document);
            ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
            const BindingProperty& value = result.Value();
            EXPECT_EQ(value.Size(), 3u);
            EXPECT_EQ(value.Find(decoded).GetString(), decoded);
            EXPECT_EQ(value.Find("p").GetString(), plain);
            EXPECT_EQ(value.Find("q").GetString(), decoded);
        }
    }
}

TEST(JsonReader, RepeatedMembersReuseTheirField) {
    ExpectReads({
        {R"({"a":1,"a":2})", "{a:u2}"},
        {R"({"a":{"x":1},"a":{"y":2}})", "{a:{x:u1,y:u2}}"},
        {R"({"a":[1],"a":[2]})", "{a:[u1,u2]}"},
        {R"({"a":1,"a":null})", "{a:u1}"},
        {R"({"a":1,"a":[2]})", "{a:[u2]}"},
        {R"({"a":[1],"a":{"x":1}})", "{a:{x:u1}}"},
    });
}

TEST(JsonReader, ReportsTheReadersTextAtItsByteOffset) {
    ExpectReads({
        {"[1,]", "Error: Invalid value. at offset 3."},
        {"NaN", "Error: Invalid value. at offset 0."},
        {"// note\n1", "Error: Invalid value. at offset 0."},
        {"{1:2}", "Error: Missing a name for object member. at offset 1."},
        {R"({"a":1 "b":2})", "Error: Missing a comma or '}' after an object member. at offset 7."},
        {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
        {R"("\ud800\u0041")", "Error: The surrogate pair in string is invalid. at offset 1."},
        {R"("abc)", "Error: Missing a closing quotation mark in string. at offset 4."},
        {"\"a\tb\"", "Error: Invalid escape character in string. at offset 2."},
        {"1.", "Error: Miss fraction part in number. at offset 2."},
        {"{} x", "Error: The document root must not follow by other values. at offset 3."},
        {"null null", "Error: The document root must not follow by other values. at offset 5."},
    });
}

TEST(JsonReader, ReadsNestingUpToTheLimitAndRefusesItAtTheBracketTooMany) {
    const std::string objects = TavoTest::Repeat(R"({"a":)", kMaxJsonDepth);
    for (const std::string& text :
         {std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']'),
          objects + "1" + std::string(kMaxJsonDepth, '}')}) {
        Tavo::BindingResult result = ParseJson(text);
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        EXPECT_EQ(TavoTest::NestedLevels(result.Value()), kMaxJsonDepth);
    }
    ExpectReads({
        {std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']'),
         "Error: Nesting deeper than 1000 levels. at offset 1000."},
        {" " + std::string(100000, '['), "Error: Nesting deeper than 1000 levels. at offset 1001."},
        {objects + R"({"a":)", "Error: Nesting deeper than 1000 levels. at offset 5000."},
        {"[" + std::string(kMaxJsonDepth - 1, '[') + std::string(kMaxJsonDepth - 1, ']') +
             ",{\"a\":" + std::string(kMaxJsonDepth, '['),
         "Error: Nesting deeper than 1000 levels. at offset 3003."},
    });
}

enum class Shade : std::int32_t { Light = 0, Dark = 1 };

BindingProperty Read(const std::string& json) {
    Tavo::BindingResult result = ParseJson(json);
    EXPECT_TRUE(result.IsOk()) << json << ": " << result.ErrorMessage();
    return std::move(result.Value());
}

TEST(JsonWriter, CompactLayoutHasNoBlanksAndOrdersFieldsByName) {
    EXPECT_EQ(WriteJson(Read(R"({ "b" : 1, "a" : [ 1, 2 ], "c" : "x", "B": null })")),
              R"({"B":null,"a":[1,2],"b":1,"c":"x"})");
    EXPECT_EQ(WriteJson(Read(R"({"b":1,"a":2})"), nullptr, ""), R"({"a":2,"b":1})");
    // An empty root is the empty text in either layout; empty elements are null.
    EXPECT_EQ(WriteJson(BindingProperty()), "");
    EXPECT_EQ(WriteJson(BindingProperty(), nullptr, "\n"), "");
    BindingProperty list;
    list.Append();
    EXPECT_EQ(WriteJson(list), "[null]");
}

TEST(JsonWriter, IndentedLayoutUsesFourBlanksAndTheGivenLineBreak) {
    const BindingProperty value = Read(R"({"b":{},"a":[1,[]]})");
    const std::string lf =
        "{\n"
        "    \"a\": [\n"
        "        1,\n"
        "        []\n"
        "    ],\n"
        "    \"b\": {}\n"
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
    using Limits = std::numeric_limits<double>;
    BindingProperty list;
    for (double value : {0.5, 3.0, -0.0, 1e30, 1e-7, -29.279329430775478, Limits::max(),
                         Limits::denorm_min(), Limits::quiet_NaN(), -Limits::infinity()}) {
        list.Append().SetFloat(value);
    }
    list.Append().SetBool(true);  // the writer goes on after a non-finite value
    EXPECT_EQ(WriteJson(list),
              "[0.5,3.0,-0.0,1e30,1e-7,-29.279329430775478,1.7976931348623157e308,5e-324,null,"
              "null,true]");
}

TEST(JsonWriter, WritesIntegersWholeBlobsAsBase64AndEscapesStringsMinimally) {
    BindingProperty list;
    list.Append().SetSigned(std::numeric_limits<std::int64_t>::min());
    list.Append().SetUnsigned(std::numeric_limits<std::uint64_t>::max());
    list.Append().SetSigned(std::int32_t{-1});
    list.Append().SetBool(false);
    list.Append().SetString(std::string_view("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f\xC3\xA9"));
    list.Append().SetString(std::string_view("a\0b", 3));  // NULs come from MessagePack
    list.Append().SetBlob(std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0xFF});
    list.Append().SetBlob(std::vector<std::uint8_t>{});
    EXPECT_EQ(WriteJson(list),
              "[-9223372036854775808,18446744073709551615,-1,false,"
              "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001F\x7f\xC3\xA9\",\"a\\u0000b\","
              "\"AAEC/w==\",\"\"]");
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

TEST(JsonWriter, RoundTripsDocumentsInBothLayoutsUpToTheDepthLimit) {
    const std::string deepest =
        std::string(Tavo::kMaxJsonDepth, '[') + std::string(Tavo::kMaxJsonDepth, ']');
    for (const std::string json : {
             "-1",
             R"("text")",
             R"([1,-2,0.25,"x",[null,{}],{"k":false}])",
             R"({"":1,"a":{"b":{"c":[1,2,3]}},"z":"\u00e9"})",
             "[18446744073709551615,-9223372036854775808,1.0e300]",
             deepest.c_str(),
         }) {
        SCOPED_TRACE(json.substr(0, 40));
        const BindingProperty value = Read(json);
        EXPECT_EQ(Read(WriteJson(value)), value);
        EXPECT_EQ(Read(WriteJson(value, nullptr, "\r\n")), value);
    }
    EXPECT_EQ(WriteJson(Read(deepest)), deepest);
}

}  // namespace

namespace WriterDifferential {

// A random tree of every kind JSON writes, and the same values as a RapidJSON
// document with its members in the order our structures iterate (byte order
// of the names). Texts mix plain bytes, every escaped byte, NUL and UTF-8;
// a repeated name reuses its field.
struct Generator {
    std::uint64_t state;

    std::uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::string Text() {
        static const char kAlphabet[] = "ab\"\\/\b\f\n\r\t\x01\x1f\x7f\xc3\xa9 ";
        std::string text(Next() % 40, 'x');
        for (char& c : text) {
            c = kAlphabet[Next() % (sizeof kAlphabet)];  // includes the NUL at the end
        }
        return text;
    }
    double Float() {
        std::uint64_t bits = Next();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        switch (Next() % 4) {
            case 0:
                return static_cast<double>(static_cast<std::int32_t>(Next())) / 8;
            case 1:
                return std::isfinite(value) ? value : 0.5;
            default:
                return static_cast<double>(Next() % 100000) * 1e-3;
        }
    }
    void Fill(Tavo::BindingProperty& ours, int depth) {
        switch (depth > 3 ? Next() % 6 : Next() % 8) {
            case 0:
                ours.SetBool(Next() % 2 == 0);
                break;
            case 1:
                ours.SetSigned(static_cast<std::int64_t>(Next()) | std::int64_t{1} << 63);
                break;
            case 2:
                ours.SetUnsigned(Next() >> (Next() % 64));
                break;
            case 3:
                ours.SetFloat(Float());
                break;
            case 4:
                ours.SetString(Text());
                break;
            case 5:
                break;  // empty: null
            case 6:
                ours.MakeCollection();
                for (std::uint64_t n = Next() % 5; n > 0; --n) {
                    Fill(ours.Append(), depth + 1);
                }
                break;
            default:
                ours.MakeStructure();
                for (std::uint64_t n = Next() % 5; n > 0; --n) {
                    Fill(ours.Field(Text()), depth + 1);
                }
        }
    }
    // The same values as a RapidJSON document, members in our order.
    static void Convert(const Tavo::BindingProperty& ours, rapidjson::Value& theirs,
                        rapidjson::Document::AllocatorType& allocator) {
        using Kind = Tavo::BindingProperty::Kind;
        switch (ours.GetKind()) {
            case Kind::Bool:
                theirs.SetBool(ours.GetBool());
                break;
            case Kind::Signed:
                theirs.SetInt64(ours.GetSigned());
                break;
            case Kind::Unsigned:
                theirs.SetUint64(ours.GetUnsigned());
                break;
            case Kind::Float:
                theirs.SetDouble(ours.GetFloat());
                break;
            case Kind::String:
                theirs.SetString(ours.GetString().data(),
                                 static_cast<rapidjson::SizeType>(ours.GetString().size()),
                                 allocator);
                break;
            case Kind::Collection:
                theirs.SetArray();
                for (const Tavo::BindingProperty& element : ours.Elements()) {
                    rapidjson::Value value;
                    Convert(element, value, allocator);
                    theirs.PushBack(value, allocator);
                }
                break;
            case Kind::Structure:
                theirs.SetObject();
                for (const auto& field : ours.Fields()) {
                    rapidjson::Value key(field.key.CStr(),
                                         static_cast<rapidjson::SizeType>(field.key.Size()),
                                         allocator);
                    rapidjson::Value value;
                    Convert(field.value, value, allocator);
                    theirs.AddMember(key, value, allocator);
                }
                break;
            default:
                theirs.SetNull();
        }
    }
};

// The writer is ours; its text must be RapidJSON's writers' byte for byte.
TEST(JsonWriter, WritesWhatRapidJsonsWritersWriteForRandomTrees) {
    Generator generator{0x9E3779B97F4A7C15u};
    for (int round = 0; round < 2000; ++round) {
        Tavo::BindingProperty ours;
        generator.Fill(ours, 0);
        rapidjson::Document theirs;
        Generator::Convert(ours, theirs, theirs.GetAllocator());
        if (ours.IsEmpty()) {
            continue;  // an empty root writes the empty text, not null
        }
        rapidjson::StringBuffer compact;
        rapidjson::Writer<rapidjson::StringBuffer> compactWriter(compact);
        theirs.Accept(compactWriter);
        rapidjson::StringBuffer pretty;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> prettyWriter(pretty);
        theirs.Accept(prettyWriter);
        ASSERT_EQ(Tavo::WriteJson(ours), compact.GetString()) << "round " << round;
        ASSERT_EQ(Tavo::WriteJson(ours, nullptr, "\n"), pretty.GetString()) << "round " << round;
    }
}

}  // namespace WriterDifferential
