#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "formats/Yaml.h"

namespace {

using Tavo::BindingProperty;
using Tavo::BindingResult;
using Tavo::ParseYaml;
using Kind = BindingProperty::Kind;

// A compact rendering that keeps every kind apart: ~ empty, u5 unsigned,
// s-5 signed, f5.5 float, 'x' string, true/false, [a, b], {k: v}.
void Render(const BindingProperty& value, std::string& out) {
    char number[64];
    switch (value.GetKind()) {
        case Kind::Empty:
            out += "~";
            break;
        case Kind::Bool:
            out += value.GetBool() ? "true" : "false";
            break;
        case Kind::Signed:
            std::snprintf(number, sizeof number, "s%" PRId64, value.GetSigned());
            out += number;
            break;
        case Kind::Unsigned:
            std::snprintf(number, sizeof number, "u%" PRIu64, value.GetUnsigned());
            out += number;
            break;
        case Kind::Float:
            std::snprintf(number, sizeof number, "f%.17g", value.GetFloat());
            out += number;
            break;
        case Kind::String:
            out += "'";
            out += value.GetString();
            out += "'";
            break;
        case Kind::Collection: {
            out += "[";
            const char* separator = "";
            for (const BindingProperty& element : value.Elements()) {
                out += separator;
                Render(element, out);
                separator = ", ";
            }
            out += "]";
            break;
        }
        case Kind::Structure: {
            out += "{";
            const char* separator = "";
            for (const auto& field : value.Fields()) {
                out += separator;
                out += field.key.View();
                out += ": ";
                Render(field.value, out);
                separator = ", ";
            }
            out += "}";
            break;
        }
        default:
            out += "?";
    }
}

std::string Read(std::string_view yaml) {
    const BindingResult result = ParseYaml(yaml);
    if (!result.IsOk()) {
        return "error: " + std::string(result.ErrorMessage());
    }
    std::string out;
    Render(result.Value(), out);
    return out;
}

struct Row {
    const char* yaml;
    const char* expected;
};

void Check(const Row* begin, const Row* end) {
    for (const Row* row = begin; row != end; ++row) {
        SCOPED_TRACE(row->yaml);
        EXPECT_EQ(Read(row->yaml), row->expected);
    }
}

TEST(YamlReader, ResolvesUntaggedScalarsByWordAndNumber) {
    static const Row kRows[] = {
        // Null words, and a quoted null word stays a string.
        {"", "~"},
        {"~", "~"},
        {"null", "~"},
        {"Null", "~"},
        {"NULL", "~"},
        {"'null'", "'null'"},
        {"\"\"", "''"},
        {"nULL", "'nULL'"},
        // Numbers: integral values are integers, unsigned unless below zero.
        {"5", "u5"},
        {"-5", "s-5"},
        {"+5", "u5"},
        {"5.5", "f5.5"},
        {"5.0", "u5"},
        {"1e3", "u1000"},
        {"-0", "u0"},
        {"-0.0", "u0"},
        {"-2.5e0", "f-2.5"},
        {"0x10", "u16"},
        {"-0x10", "s-16"},
        {"010", "u10"},
        {".5", "f0.5"},
        {"1e-400", "f0"},
        // Integer literals keep every digit, up to the 64-bit limits.
        {"9007199254740993", "u9007199254740993"},
        {"18446744073709551615", "u18446744073709551615"},
        {"-9223372036854775808", "s-9223372036854775808"},
        // Beyond them, integral values stay floats.
        {"18446744073709551616", "f1.8446744073709552e+19"},
        {"-9223372036854775809", "f-9.2233720368547758e+18"},
        {"1e20", "f1e+20"},
        // Not read whole by strtod, or infinite: strings.
        {"1_000", "'1_000'"},
        {".inf", "'.inf'"},
        {"1e999", "'1e999'"},
        {"inf", "'inf'"},
        {"0x", "'0x'"},
        {"5 apples", "'5 apples'"},
        {"'5'", "'5'"},
        // Bool words, exact and case-sensitive.
        {"yes", "true"},
        {"Y", "true"},
        {"ON", "true"},
        {"True", "true"},
        {"Off", "false"},
        {"n", "false"},
        {"NO", "false"},
        {"tRue", "'tRue'"},
        {"\"yes\"", "'yes'"},
        // Literal and folded scalars count as not quoted.
        {"|-\n  5\n", "u5"},
        {"|\n  5\n", "'5\n'"},
        {">-\n  yes\n", "true"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReader, ReadsNanAsFloat) {
    const BindingResult result = ParseYaml("nan");
    ASSERT_TRUE(result.IsOk());
    ASSERT_EQ(result.Value().GetKind(), Kind::Float);
    EXPECT_NE(result.Value().GetFloat(), result.Value().GetFloat());
}

TEST(YamlReader, HonoursStandardScalarTags) {
    static const Row kRows[] = {
        {"!!str 5", "'5'"},
        {"!!str", "''"},
        // !!int detects the base: a leading 0 is octal, 0x hexadecimal.
        {"!!int 010", "u8"},
        {"!!int 0x10", "u16"},
        {"!!int -1", "s-1"},
        {"!!int '7'", "u7"},
        {"!!int 18446744073709551615", "u18446744073709551615"},
        {"!!int -9223372036854775808", "s-9223372036854775808"},
        {"!!float 1", "f1"},
        {"!!float -2.5", "f-2.5"},
        {"!!bool yes", "true"},
        {"!!bool OFF", "false"},
        {"!!bool maybe", "~"},
        {"!<tag:yaml.org,2002:int> 12", "u12"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReader, BuildsMappingsAndSequences) {
    static const Row kRows[] = {
        // Fields iterate in byte order of their names.
        {"b: 1\na: 2\nB: 3", "{B: u3, a: u2, b: u1}"},
        {"a:\n  - 1\n  - {b: [x, ~]}\n", "{a: [u1, {b: ['x', ~]}]}"},
        {"[1, [2, 3], [], {}]", "[u1, [u2, u3], [], {}]"},
        {"- a\n-\n- c", "['a', ~, 'c']"},
        {"a:\nb: 2", "{a: ~, b: u2}"},
        {"--- 5\n...\n", "u5"},
        {"%YAML 1.1\n---\na: 1\n", "{a: u1}"},
        // Keys are never resolved.
        {"5: a\ntrue: b\nnull: c\n~: d", "{5: 'a', null: 'c', true: 'b', ~: 'd'}"},
        {"!!str k: v", "{k: 'v'}"},
        // An empty key is the field named by the empty text.
        {"\"\": 1", "{: u1}"},
        {"? \n: 1", "{: u1}"},
        // Sequence and mapping tags are accepted and ignored.
        {"!!map {a: !!seq [1]}", "{a: [u1]}"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReader, KeepsTheBytesOfQuotedScalarsByLength) {
    const BindingResult result = ParseYaml("\"a\\0b\"");
    ASSERT_TRUE(result.IsOk());
    EXPECT_EQ(result.Value().GetString(), std::string_view("a\0b", 3));
}

TEST(YamlReader, RepeatedKeysFollowTheJsonReadersRule) {
    static const Row kRows[] = {
        // A scalar (or null) replaces the earlier value.
        {"a: 1\na: 2", "{a: u2}"},
        {"a: {x: 1}\na: 5", "{a: u5}"},
        {"a: [1]\na: x", "{a: 'x'}"},
        {"a: 1\na: ~", "{a: ~}"},
        // A mapping merges into an earlier mapping, a sequence appends.
        {"a: {x: 1}\na: {y: 2}", "{a: {x: u1, y: u2}}"},
        {"a: {x: 1}\na: {x: 2}", "{a: {x: u2}}"},
        {"a: [1]\na: [2]", "{a: [u1, u2]}"},
        // A different kind of container replaces it.
        {"a: [1]\na: {y: 2}", "{a: {y: u2}}"},
        // An alias replaces it too, even when it points inside it.
        {"a: {b: &x 1}\na: *x", "{a: u1}"},
        {"a: {b: &x [1]}\na: *x", "{a: [u1]}"},
        {"a: &x 1\na: *x", "{a: u1}"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReader, AliasesCopyTheAnchoredValue) {
    static const Row kRows[] = {
        {"a: &x [1, 2]\nb: *x", "{a: [u1, u2], b: [u1, u2]}"},
        {"a: &x {k: v}\nb: *x\nc: *x", "{a: {k: 'v'}, b: {k: 'v'}, c: {k: 'v'}}"},
        {"a: &x 5\nb: *x", "{a: u5, b: u5}"},
        {"a: &x !!int 5\nb: *x", "{a: u5, b: u5}"},
        {"a: &x\nb: *x", "{a: ~, b: ~}"},
        // Anchors remember paths: later appends to the sequence holding the
        // anchored node do not lose it.
        {"- &a [1]\n- x\n- z\n- *a", "[[u1], 'x', 'z', [u1]]"},
        {"- - &a {k: [1]}\n  - 2\n- *a", "[[{k: [u1]}, u2], {k: [u1]}]"},
        // A node anchored inside an anchored node.
        {"a: &o {i: &in [1]}\nb: *in\nc: *o", "{a: {i: [u1]}, b: [u1], c: {i: [u1]}}"},
        // A key anchor stands for the key's text once its mapping is closed.
        {"m: {&k name: 1}\nv: *k", "{m: {name: u1}, v: 'name'}"},
        {"- {&k name: 1}\n- *k", "[{name: u1}, 'name']"},
        // In key position an alias stands for the text of a key anchor or of
        // an anchored string-like scalar.
        {"a: &k name\n*k : 2", "{a: 'name', name: u2}"},
        {"m: {&k name: 1}\nn: {*k : 2}", "{m: {name: u1}, n: {name: u2}}"},
        {"a: &k 5\n*k : b", "{5: 'b', a: u5}"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReader, AliasCopyIsIndependentOfItsSource) {
    BindingResult result = ParseYaml("a: &x {k: [1, 2]}\nb: *x");
    ASSERT_TRUE(result.IsOk());
    result.Value().Field("a").Field("k").Append().SetString("more");
    std::string out;
    Render(result.Value(), out);
    EXPECT_EQ(out, "{a: {k: [u1, u2, 'more']}, b: {k: [u1, u2]}}");
}

TEST(YamlReader, AcceptsNestingAtTheDepthLimit) {
    const std::string yaml =
        std::string(Tavo::kYamlMaxDepth, '[') + std::string(Tavo::kYamlMaxDepth, ']');
    const BindingResult result = ParseYaml(yaml);
    ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
    const BindingProperty* node = &result.Value();
    std::size_t depth = 1;
    while (node->Size() == 1) {
        node = &node->ElementAt(0);
        ++depth;
    }
    EXPECT_EQ(node->GetKind(), Kind::Collection);
    EXPECT_EQ(depth, Tavo::kYamlMaxDepth);
}

TEST(YamlReader, AllowsAliasesWithinTheExpansionBudget) {
    // 100 elements copied 900 times: 90,900 values, under the floor of 100,000.
    std::string yaml = "a: &x [";
    for (int i = 0; i < 100; ++i) {
        yaml += i == 0 ? "1" : ", 1";
    }
    yaml += "]\nb: [";
    for (int i = 0; i < 900; ++i) {
        yaml += i == 0 ? "*x" : ", *x";
    }
    yaml += "]\n";
    const BindingResult result = ParseYaml(yaml);
    ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
    EXPECT_EQ(result.Value().Find("b").Size(), 900u);
    EXPECT_EQ(result.Value().Find("b").ElementAt(899).Size(), 100u);
}

}  // namespace
