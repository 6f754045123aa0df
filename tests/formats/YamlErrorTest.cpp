#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "formats/Yaml.h"

namespace {

using Tavo::BindingResult;
using Tavo::ParseYaml;

struct Row {
    std::string_view yaml;
    const char* message;
};

void Check(const Row* begin, const Row* end) {
    for (const Row* row = begin; row != end; ++row) {
        SCOPED_TRACE(row->yaml);
        const BindingResult result = ParseYaml(row->yaml);
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage(), row->message);
        // A failure leaves only {"error": message}.
        EXPECT_EQ(result.Value().Size(), 1u);
    }
}

TEST(YamlReaderError, ReportsStructuralErrorsAtTheirEvent) {
    static const Row kRows[] = {
        // Any second document, even after an empty one.
        {"a: 1\n---\nb: 2", "Multi-document YAML is not supported."},
        {"---\n---\n", "Multi-document YAML is not supported."},
        {"--- x\n...\n--- y\n", "Multi-document YAML is not supported."},
        // Anchors are defined once per text.
        {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
        {"&x k: &x v", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7"},
        {"- &x [1]\n- &x {}", "Duplicate occurrence of anchor \"x\". At line: 2 col: 3"},
        // Keys must be string scalars.
        {"!!int 5: a",
         "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
        {"a: &s [1]\n*s : 2",
         "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
        {"a: &n !!int 5\n*n : 2",
         "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
        {"? [a]\n: 1", "Unexpected start of sequence. At line: 1 col: 3"},
        {"? {a: 1}\n: 2", "Unexpected start of mapping. At line: 1 col: 3"},
        // Aliases to open nodes, and to nothing.
        {"a: &x [1, *x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
        {"&r {a: {b: *r}}", "Cannot deserialize cyclic aliases. Alias \"r\". At line: 1 col: 12"},
        {"&k name: 1\nother: *k",
         "Cannot deserialize cyclic aliases. Alias \"k\". At line: 2 col: 8"},
        // A mapping reopened through a repeated key is still the same node.
        {"a: &x {k: 1}\na: {z: *x}",
         "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
        {"b: *y", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
        {"*y : 1", "Undefined alias encountered: \"y\". At line: 1 col: 1"},
        {"- *a\n- &a 1", "Undefined alias encountered: \"a\". At line: 1 col: 3"},
        // The first failure wins; later events are not read.
        {"a: *y\nb: !foo x", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReaderError, RejectsUnsupportedAndUnconvertibleTags) {
    static const Row kRows[] = {
        {"!foo x", "Unsupported YAML tag '!foo'."},
        {"! x", "Unsupported YAML tag '!'."},
        {"a: !!binary aGk=", "Unsupported YAML tag 'tag:yaml.org,2002:binary'."},
        {"!!int 12x", "Value 12x for 'yaml' of type uint64_t is in an incorrect format"},
        {"!!int 99999999999999999999",
         "Value 99999999999999999999 for 'yaml' of type uint64_t is out of range"},
        {"!!int -9223372036854775809",
         "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
        {"!!int ' -1'", "Value  -1 for 'yaml' of type uint64_t is out of range"},
        {"!!float abc", "Value abc for 'yaml' of type double is in an incorrect format"},
        {"!!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReaderError, PassesLibyamlProblemsOnWithZeroBasedPositions) {
    static const Row kRows[] = {
        {"a: [1, 2", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
        {"a: b: c",
         "YAML parser error: mapping values are not allowed in this context. "
         "At line: 0 col: 4"},
        {"a: \xff", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
        {std::string_view("a: \0", 4),
         "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
    };
    Check(std::begin(kRows), std::end(kRows));
}

TEST(YamlReaderError, RejectsNestingBeyondTheDepthLimit) {
    const std::size_t limit = Tavo::kYamlMaxDepth;
    const std::string sequences = std::string(limit + 1, '[') + std::string(limit + 1, ']');
    std::string mappings;
    for (std::size_t i = 0; i <= limit; ++i) {
        mappings += "{a: ";
    }
    mappings += std::string(limit + 1, '}');
    // 600 levels around an alias of a 600-level value: the copy would
    // exceed the limit.
    const std::string deep = std::string(600, '[') + std::string(600, ']');
    const std::string viaAlias =
        "a: &x " + deep + "\nb: " + std::string(599, '[') + "*x" + std::string(599, ']');
    static const std::string kExpected[] = {
        "Nesting deeper than 1000 levels. At line: 1 col: 1001",
        "Nesting deeper than 1000 levels. At line: 1 col: 4001",
        "Nesting deeper than 1000 levels. At line: 2 col: 603",
    };
    const std::string* inputs[] = {&sequences, &mappings, &viaAlias};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const BindingResult result = ParseYaml(*inputs[i]);
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage(), kExpected[i]);
    }
}

TEST(YamlReaderError, StopsAliasExpansionAtItsBudget) {
    // Each level holds ten aliases of the one before: 10^9 values if expanded.
    std::string laughs = "a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
    for (int level = 1; level <= 9; ++level) {
        const std::string name = "a" + std::to_string(level);
        const std::string previous = "*a" + std::to_string(level - 1);
        laughs += name + ": &" + name + " [";
        for (int i = 0; i < 10; ++i) {
            laughs += (i == 0 ? "" : ", ") + previous;
        }
        laughs += "]\n";
    }
    const BindingResult result = ParseYaml(laughs);
    EXPECT_FALSE(result.IsOk());
    EXPECT_EQ(result.ErrorMessage().substr(0, 45), "Aliases expand to more than 100000 values. At");
}

TEST(YamlReaderError, ChargesCopiedTextToTheBudget) {
    // Copies of one 64 KiB text: cheap in values, not in bytes.
    const std::string text(65536, 'x');
    std::string asValues = "a: &x " + text + "\nb: [";
    std::string asKeys = "a: &x " + text + "\nb: {";
    for (int i = 0; i < 100000; ++i) {
        asValues += "*x, ";
        asKeys += "? *x\n: " + std::to_string(i) + ", ";
    }
    asValues += "]\n";
    asKeys += "}\n";
    for (const std::string* yaml : {&asValues, &asKeys}) {
        const BindingResult result = ParseYaml(*yaml);
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage().substr(0, 27), "Aliases expand to more than");
    }
}

TEST(YamlReaderError, ChargesTheAnchorPathWalkToTheBudget) {
    // An anchor 900 levels deep aliased over and over: each alias walks 900
    // steps, so the budget ends this long before it becomes slow.
    std::string yaml = std::string(900, '[') + "&a x";
    for (int i = 0; i < 200000; ++i) {
        yaml += ", *a";
    }
    yaml += std::string(900, ']');
    const BindingResult result = ParseYaml(yaml);
    EXPECT_FALSE(result.IsOk());
    EXPECT_EQ(result.ErrorMessage().substr(0, 27), "Aliases expand to more than");
}

}  // namespace
