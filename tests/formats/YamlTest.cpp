#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/Yaml.h"
#include "tests/formats/TypedText.h"

namespace {

using Tavo::BindingResult;
using Tavo::kYamlMaxDepth;
using Tavo::ParseYaml;
using TavoTest::Outcome;
using TavoTest::Repeat;

struct Row {
    std::string yaml;
    std::string expected;  // Outcome of the read
};

void ExpectReads(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.yaml.substr(0, 40));
        EXPECT_EQ(Outcome(ParseYaml(row.yaml)), row.expected);
    }
}

TEST(YamlReader, ResolvesUntaggedScalarsByWordAndNumber) {
    ExpectReads({
        {"", "~"},
        {"~", "~"},
        {"null", "~"},
        {"'null'", R"("null")"},
        {"\"\"", R"("")"},
        // Integral numbers are integers, unsigned unless below zero, with
        // every digit up to the 64-bit limits, and floats beyond them.
        {"5", "u5"},
        {"-5", "s-5"},
        {"5.5", "f5.5"},
        {"5.0", "u5"},
        {"-0", "u0"},
        {"0x10", "u16"},
        {"010", "u10"},
        {"1e-400", "f0"},
        {"nan", "fnan"},
        {"9007199254740993", "u9007199254740993"},
        {"18446744073709551615", "u18446744073709551615"},
        {"-9223372036854775808", "s-9223372036854775808"},
        {"18446744073709551616", "f1.8446744073709552e+19"},
        // Not read whole by strtod, or infinite: strings. Words are exact.
        {"1_000", R"("1_000")"},
        {".inf", R"(".inf")"},
        {"1e999", R"("1e999")"},
        {"yes", "true"},
        {"ON", "true"},
        {"Off", "false"},
        {"NO", "false"},
        {"tRue", R"("tRue")"},
        {"\"yes\"", R"("yes")"},
        // Block scalars count as not quoted; quoted ones keep all their bytes.
        {"|-\n  5\n", "u5"},
        {"|\n  5\n", "\"5\n\""},
        {"\"a\\0b\"", R"("a\0b")"},
    });
}

// Plain scalars that come close to a number or a word and those just past
// a limit: each resolves as the general reading (strtod, exact 64-bit
// integers, exact words) does, however the reader gets there.
TEST(YamlReader, ResolvesNearMissesOfNumbersAndWordsAsTheGeneralRuleDoes) {
    ExpectReads({
        // Decimal integers at and past the 64-bit limits, with leading zeros.
        {"0", "u0"},
        {"00", "u0"},
        {"-00", "u0"},
        {"+5", "u5"},
        {"+0", "u0"},
        {"0000000000000000000000000000001", "u1"},
        {"-0000000000000000000000000000001", "s-1"},
        {"1234567890123456789", "u1234567890123456789"},
        {"9999999999999999999", "u9999999999999999999"},
        {"-999999999999999999", "s-999999999999999999"},
        {"-1234567890123456789", "s-1234567890123456789"},
        {"9223372036854775807", "u9223372036854775807"},
        {"9223372036854775808", "u9223372036854775808"},
        {"-9223372036854775809", "f-9.2233720368547758e+18"},
        {"-9999999999999999999", "f-1e+19"},
        {"99999999999999999999", "f1e+20"},
        // Hexadecimal integers and floats; other prefixes are text.
        {"0x", R"("0x")"},
        {"0x1F", "u31"},
        {"0X1f", "u31"},
        {"-0x10", "s-16"},
        {"+0x10", "u16"},
        {"0xg", R"("0xg")"},
        {"0x1p3", "u8"},
        {"0x10000000000000000", "f1.8446744073709552e+19"},
        {"0o7", R"("0o7")"},
        {"0b1", R"("0b1")"},
        // Decimal fractions and exponents, whole or not.
        {".5", "f0.5"},
        {"-.5", "f-0.5"},
        {"+.5", "f0.5"},
        {"5.", "u5"},
        {"-5.0", "s-5"},
        {"-0.0", "u0"},
        {"1e", R"("1e")"},
        {"1e5", "u100000"},
        {"1E+5", "u100000"},
        {"2.5e-1", "f0.25"},
        {"-65.61361699999998", "f-65.613616999999977"},
        {"1e19", "u10000000000000000000"},
        {"1e20", "f1e+20"},
        {"-1e-400", "f-0"},
        // Signs, points and words alone, and numbers with something after.
        {"-x", R"("-x")"},
        {"--", R"("--")"},
        {"+", R"("+")"},
        {".", R"(".")"},
        {"1_000", R"("1_000")"},
        {"12abc", R"("12abc")"},
        // Digits read eight at a time: a byte that is not one anywhere in or
        // after a group of eight, below '0', above '9' or not ASCII.
        {"12345678", "u12345678"},
        {"-1234567812345678", "s-1234567812345678"},
        {"12345678x", R"("12345678x")"},
        {"1234567/9", R"("1234567/9")"},
        {"x2345678", R"("x2345678")"},
        {"123456789012345;", R"("123456789012345;")"},
        {"1234567\xc3\xa9", "\"1234567\xc3\xa9\""},
        {"000000\xc2\xba"
         "1",
         "\"000000\xc2\xba"
         "1\""},
        {"1 2", R"("1 2")"},
        {"1.2.3", R"("1.2.3")"},
        // Infinities are text; NaN in any spelling strtod reads is a float.
        {"+.inf", R"("+.inf")"},
        {"-.inf", R"("-.inf")"},
        {".nan", R"(".nan")"},
        {"inf", R"("inf")"},
        {"-Infinity", R"("-Infinity")"},
        {"INF", R"("INF")"},
        {"NaN", "fnan"},
        {"NAN", "fnan"},
        {"nan(1)", "fnan"},
        {"nanx", R"("nanx")"},
        // Null and bool words match exactly, in three spellings each.
        {"~", "~"},
        {"Null", "~"},
        {"NULL", "~"},
        {"nULL", R"("nULL")"},
        {"~~", R"("~~")"},
        {"TRUE", "true"},
        {"True", "true"},
        {"tRUE", R"("tRUE")"},
        {"truex", R"("truex")"},
        {"y", "true"},
        {"Y", "true"},
        {"n", "false"},
        {"N", "false"},
        {"Yes", "true"},
        {"YES", "true"},
        {"yES", R"("yES")"},
        {"No", "false"},
        {"on", "true"},
        {"oN", R"("oN")"},
        {"OFF", "false"},
        {"false", "false"},
        {"FALSE", "false"},
        {"fAlse", R"("fAlse")"},
        {"i", R"("i")"},
        {"x", R"("x")"},
        {"n1", R"("n1")"},
        {"yess", R"("yess")"},
        {"onn", R"("onn")"},
    });
    // A sign before "nan" still reads as NaN; which sign the NaN keeps is
    // the C library's (glibc keeps it, msvcrt does not).
    Tavo::BindingResult negative = Tavo::ParseYaml("-nan");
    EXPECT_EQ(negative.Value().GetKind(), Tavo::BindingProperty::Kind::Float);
    EXPECT_TRUE(std::isnan(negative.Value().GetFloat()));
}

TEST(YamlReader, HonoursStandardScalarTags) {
    ExpectReads({
        {"!!str 5", R"("5")"},
        {"!!str", R"("")"},
        // !!int detects the base: a leading 0 is octal, 0x hexadecimal.
        {"!!int 010", "u8"},
        {"!!int 0x10", "u16"},
        {"!!int -1", "s-1"},
        {"!!float 1", "f1"},
        {"!!bool yes", "true"},
        {"!!bool maybe", "~"},
        {"!<tag:yaml.org,2002:int> 12", "u12"},
        {"!foo x", "Unsupported YAML tag '!foo'."},
        {"a: !!binary aGk=", "Unsupported YAML tag 'tag:yaml.org,2002:binary'."},
        {"!!int 12x", "Value 12x for 'yaml' of type uint64_t is in an incorrect format"},
        {"!!int 99999999999999999999",
         "Value 99999999999999999999 for 'yaml' of type uint64_t is out of range"},
        {"!!int -9223372036854775809",
         "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
        {"!!float abc", "Value abc for 'yaml' of type double is in an incorrect format"},
    });
}

TEST(YamlReader, BuildsMappingsAndSequences) {
    ExpectReads({
        {"b: 1\na: 2\nB: 3", "{B:u3,a:u2,b:u1}"},
        {"a:\n  - 1\n  - {b: [x, ~]}\n", R"({a:[u1,{b:["x",~]}]})"},
        {"[1, [2, 3], [], {}]", "[u1,[u2,u3],[],{}]"},
        {"a:\nb: 2", "{a:~,b:u2}"},
        // Keys are never resolved.
        {"5: a\ntrue: b\nnull: c\n~: d", R"({5:"a",null:"c",true:"b",~:"d"})"},
        {"!!str k: v", R"({k:"v"})"},
        {"? \n: 1", "{:u1}"},
        {"!!map {a: !!seq [1]}", "{a:[u1]}"},
        {"!!int 5: a",
         "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
        {"? [a]\n: 1", "Unexpected start of sequence. At line: 1 col: 3"},
        {"? {a: 1}\n: 2", "Unexpected start of mapping. At line: 1 col: 3"},
        {"a: 1\n---\nb: 2", "Multi-document YAML is not supported."},
        {"---\n---\n", "Multi-document YAML is not supported."},
        // libyaml's problems, at its 0-based positions. The reader's own
        // (bad bytes) come as an offset, counted into lines and characters.
        {"a: [1, 2", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
        {"a: \xff", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 3"},
        {std::string("a: \0", 4),
         "YAML parser error: control characters are not allowed. At line: 0 col: 3"},
        {"a: 1\nb: 2\nc: \xff\n",
         "YAML parser error: invalid leading UTF-8 octet. At line: 2 col: 3"},
        {"a: 1\r\nb: 2\rc: \xc3\xa9\xe2\x82\xac \xff",
         "YAML parser error: invalid leading UTF-8 octet. At line: 2 col: 6"},
        {"a: \xc2\x85"
         "b: \xe2\x80\xa8"
         "c: \x01",
         "YAML parser error: control characters are not allowed. At line: 2 col: 3"},
        {"\xff", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
    });
}

TEST(YamlReader, RepeatedKeysFollowTheJsonReadersRule) {
    ExpectReads({
        // Scalars, null, other kinds of container and aliases (even into it)
        // replace the earlier value; a mapping merges, a sequence appends.
        {"a: {x: 1}\na: 5", "{a:u5}"},
        {"a: 1\na: ~", "{a:~}"},
        {"a: {x: 1}\na: {y: 2}", "{a:{x:u1,y:u2}}"},
        {"a: [1]\na: [2]", "{a:[u1,u2]}"},
        {"a: [1]\na: {y: 2}", "{a:{y:u2}}"},
        {"a: {b: &x [1]}\na: *x", "{a:[u1]}"},
    });
}

TEST(YamlReader, AliasesCopyTheAnchoredValue) {
    ExpectReads({
        {"a: &x [1, 2]\nb: *x", "{a:[u1,u2],b:[u1,u2]}"},
        {"a: &x !!int 5\nb: *x", "{a:u5,b:u5}"},
        {"a: &x\nb: *x", "{a:~,b:~}"},
        // Anchors remember paths: later appends to the sequence holding the
        // anchored node do not lose it.
        {"- &a [1]\n- x\n- z\n- *a", R"([[u1],"x","z",[u1]])"},
        {"a: &o {i: &in [1]}\nb: *in\nc: *o", "{a:{i:[u1]},b:[u1],c:{i:[u1]}}"},
        // A key anchor stands for the key's text once its mapping is closed,
        // or once a later anchored key of the mapping took its place there.
        {"m: {&k name: 1}\nv: *k", R"({m:{name:u1},v:"name"})"},
        {"&a1 foo: bar\n&a2 baz: *a1", R"({baz:"foo",foo:"bar"})"},
        {"m: {&k x: 1}\nm: {z: *k}", R"({m:{x:u1,z:"x"}})"},
        // In key position an alias stands for the text of a key anchor or of
        // an anchored string-like scalar.
        {"a: &k name\n*k : 2", R"({a:"name",name:u2})"},
        {"m: {&k name: 1}\nn: {*k : 2}", "{m:{name:u1},n:{name:u2}}"},
        {"a: &k 5\n*k : b", R"({5:"b",a:u5})"},
        {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
        {"- &x [1]\n- &x {}", "Duplicate occurrence of anchor \"x\". At line: 2 col: 3"},
        // Only string-like anchors may stand for a key.
        {"a: &s [1]\n*s : 2",
         "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
        // Aliases to open nodes (a key's anchor is on its open mapping; a
        // mapping reopened through a repeated key is the same node).
        {"a: &x [1, *x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
        {"&k name: 1\nother: *k",
         "Cannot deserialize cyclic aliases. Alias \"k\". At line: 2 col: 8"},
        {"a: &x {k: 1}\na: {z: *x}",
         "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
        {"&x [*x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 5"},
        {"&a1 foo: 1\n&a2 bar: *a2",
         "Cannot deserialize cyclic aliases. Alias \"a2\". At line: 2 col: 10"},
        // An open mapping whose own anchor gave way to a key's is still open:
        // copying it into itself stays refused.
        {"&m {&k a: 1, b: *m}",
         "Cannot deserialize cyclic aliases. Alias \"m\". At line: 1 col: 17"},
        // Aliases to nothing (yet); the first failure wins.
        {"b: *y", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
        {"*y : 1", "Undefined alias encountered: \"y\". At line: 1 col: 1"},
        {"- *a\n- &a 1", "Undefined alias encountered: \"a\". At line: 1 col: 3"},
        {"a: *y\nb: !foo x", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
    });
}

TEST(YamlReader, FindsAnchoredNodesUnderLongNamesAndReopenedSequences) {
    const std::string outer = "outer_name_longer_than_sixteen_bytes";
    const std::string inner = "inner_name_longer_than_sixteen_bytes";
    ExpectReads({
        // Names longer than a short string's inline room, nested, with
        // siblings opened and closed before the alias.
        {outer + ":\n  " + inner + ": &x {k: 1}\n  sibling_with_a_long_name: [1, 2]\nb: *x",
         "{b:{k:u1}," + outer + ":{" + inner + ":{k:u1},sibling_with_a_long_name:[u1,u2]}}"},
        {outer + ": &x {" + inner + ": *x}",
         "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 81"},
        {"a: &k " + inner + "\nm: {*k : 1}", "{a:\"" + inner + "\",m:{" + inner + ":u1}}"},
        // A sequence reopened through a repeated key numbers its new
        // elements after the old ones.
        {"a: [1]\na: [&x 2]\nb: *x", "{a:[u1,u2],b:u2}"},
        {"a: [1]\na: [[&x 2]]\nb: *x", "{a:[u1,[u2]],b:u2}"},
    });
}

TEST(YamlReader, AliasCopyIsIndependentOfItsSource) {
    BindingResult result = ParseYaml("a: &x {k: [1, 2]}\nb: *x");
    ASSERT_TRUE(result.IsOk());
    result.Value().Field("a").Field("k").Append().SetString("more");
    EXPECT_EQ(TavoTest::TypedText(result.Value()), R"({a:{k:[u1,u2,"more"]},b:{k:[u1,u2]}})");
}

TEST(YamlReader, ReadsNestingUpToTheLimitAndRefusesItBeyond) {
    const BindingResult deepest =
        ParseYaml(std::string(kYamlMaxDepth, '[') + std::string(kYamlMaxDepth, ']'));
    ASSERT_TRUE(deepest.IsOk()) << deepest.ErrorMessage();
    EXPECT_EQ(TavoTest::NestedLevels(deepest.Value()), kYamlMaxDepth);
    // 600 levels around an alias of a 600-level value: the copy would
    // exceed the limit.
    const std::string deep = std::string(600, '[') + std::string(600, ']');
    ExpectReads({
        {std::string(kYamlMaxDepth + 1, '[') + std::string(kYamlMaxDepth + 1, ']'),
         "Nesting deeper than 1000 levels. At line: 1 col: 1001"},
        {Repeat("{a: ", kYamlMaxDepth + 1) + std::string(kYamlMaxDepth + 1, '}'),
         "Nesting deeper than 1000 levels. At line: 1 col: 4001"},
        {"a: &x " + deep + "\nb: " + std::string(599, '[') + "*x" + std::string(599, ']'),
         "Nesting deeper than 1000 levels. At line: 2 col: 603"},
    });
}

TEST(YamlReader, CapsAliasExpansion) {
    // 100 elements copied 900 times: 90,900 values, under the floor of 100,000.
    const BindingResult allowed =
        ParseYaml("a: &x [1" + Repeat(", 1", 99) + "]\nb: [*x" + Repeat(", *x", 899) + "]\n");
    ASSERT_TRUE(allowed.IsOk()) << allowed.ErrorMessage();
    EXPECT_EQ(allowed.Value().Find("b").Size(), 900u);
    EXPECT_EQ(allowed.Value().Find("b").ElementAt(899).Size(), 100u);

    // Each level holds ten aliases of the one before: 10^9 values if expanded.
    std::string laughs = "a0: &a0 [lol" + Repeat(", lol", 9) + "]\n";
    for (int level = 1; level <= 9; ++level) {
        const std::string previous = "*a" + std::to_string(level - 1);
        laughs += "a" + std::to_string(level) + ": &a" + std::to_string(level) + " [" + previous +
                  Repeat(", " + previous, 9) + "]\n";
    }
    // Copies of one 64 KiB text: cheap in values, not in bytes, as values
    // and as keys.
    const std::string text = "a: &x " + std::string(65536, 'x');
    std::string asKeys = text + "\nb: {";
    for (int i = 0; i < 100000; ++i) {
        asKeys += "? *x\n: " + std::to_string(i) + ", ";
    }
    // An anchor 900 levels deep aliased over and over: each alias walks 900
    // steps, so the budget ends this long before it becomes slow.
    const std::string outcomes[] = {
        Outcome(ParseYaml(laughs)),
        Outcome(ParseYaml(text + "\nb: [" + Repeat("*x, ", 100000) + "]\n")),
        Outcome(ParseYaml(asKeys + "}\n")),
        Outcome(ParseYaml(std::string(900, '[') + "&a x" + Repeat(", *a", 200000) +
                          std::string(900, ']'))),
    };
    EXPECT_EQ(outcomes[0].substr(0, 45), "Aliases expand to more than 100000 values. At");
    for (const std::string& outcome : outcomes) {
        EXPECT_EQ(outcome.substr(0, 28), "Aliases expand to more than ");
    }
}

}  // namespace
