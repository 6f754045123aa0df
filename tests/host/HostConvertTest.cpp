// ulm-host convert, end to end: the built executable runs as a child process
// with the input on its standard input; its standard output, standard error
// and exit status are checked.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/host/HostProcess.h"

namespace {

using Tavo::Testing::Outcome;
using Tavo::Testing::RunHost;

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;  // the whole standard error
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunHost(c.args, c.input);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
}

const std::vector<std::string> kYamlToJson = {"convert", "--from", "yaml", "--to", "json"};
const std::vector<std::string> kJsonToJson = {"convert", "--from", "json", "--to", "json"};
const std::vector<std::string> kMsgpackToJson = {"convert", "--from", "msgpack", "--to", "json"};

std::vector<std::string> With(std::vector<std::string> args, const std::string& more) {
    args.push_back("--indent");
    args.push_back(more);
    return args;
}

TEST(HostConvert, WritesCompactJsonAndANewlineFromEachReader) {
    RunCases({
        {"yaml", kYamlToJson, "b: [1, -2, 2.5, yes, ~]\na: x\n", 0,
         "{\"a\":\"x\",\"b\":[1,-2,2.5,true,null]}\n", ""},
        {"json", kJsonToJson, "{\"b\": 1, \"a\": [true, null]}", 0, "{\"a\":[true,null],\"b\":1}\n",
         ""},
        {"msgpack", kMsgpackToJson,
         std::string("\x82\xA1"
                     "b\x01\xA1"
                     "a\xC3",
                     7),
         0, "{\"a\":true,\"b\":1}\n", ""},
        // Standard input is read as bytes: NUL and 0x1A included.
        {"msgpack binary", kMsgpackToJson,
         std::string("\x92\xA3"
                     "a\0b\x1A",
                     6),
         0, "[\"a\\u0000b\",26]\n", ""},
        {"empty yaml", kYamlToJson, "", 0, "\n", ""},
        {"empty json", kJsonToJson, "  \n", 0, "\n", ""},
    });
}

TEST(HostConvert, IndentsWithTheLineBreakGivenAsEscapes) {
    RunCases({
        {"\\n", With(kYamlToJson, "\\n"), "a: [1]\n", 0, "{\n    \"a\": [\n        1\n    ]\n}\n",
         ""},
        {"\\r\\n", With(kJsonToJson, "\\r\\n"), "{\"a\":{}}", 0, "{\r\n    \"a\": {}\r\n}\n", ""},
        {"empty text is compact", With(kJsonToJson, ""), "[1, 2]", 0, "[1,2]\n", ""},
    });
}

TEST(HostConvert, PrintsTheReadersMessageAndExitsOne) {
    RunCases({
        {"yaml", kYamlToJson, "a: [1, 2", 1, "",
         "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0\n"},
        {"yaml alias", kYamlToJson, "b: *y", 1, "",
         "Undefined alias encountered: \"y\". At line: 1 col: 4\n"},
        {"json", kJsonToJson, "[1,]", 1, "", "Error: Invalid value. at offset 3.\n"},
        {"msgpack", kMsgpackToJson, "\xC1", 1, "", "Invalid MessagePack data at position 1.\n"},
        // One document: bytes after the value are not dropped silently.
        {"msgpack trailing", kMsgpackToJson, "\x01\x02", 1, "",
         "Unexpected data after the MessagePack value at position 1.\n"},
    });
}

// Usage errors: exit 2 with CLI11's message and a pointer to --help.
TEST(HostConvert, RejectsAWrongCommandLineWithStatusTwo) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> rows = {
        {"no subcommand", {}},
        {"unknown subcommand", {"bogus"}},
        {"unknown format", {"convert", "--from", "xml", "--to", "json"}},
        {"missing --to", {"convert", "--from", "json"}},
        {"unsupported target", {"convert", "--from", "json", "--to", "yaml"}},
        {"unknown escape", With(kJsonToJson, "\\q")},
        {"trailing backslash", With(kJsonToJson, "\\")},
    };
    for (const auto& [name, args] : rows) {
        SCOPED_TRACE(name);
        const Outcome outcome = RunHost(args, "{}");
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_NE(outcome.err.find("--help"), std::string::npos) << outcome.err;
    }
}

TEST(HostConvert, HelpListsTheSubcommandsAndOptions) {
    const Outcome top = RunHost({"--help"}, "");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("convert"), std::string::npos) << top.out;

    const Outcome convert = RunHost({"convert", "--help"}, "");
    EXPECT_EQ(convert.status, 0);
    for (const char* option : {"--from", "--to", "--indent"}) {
        EXPECT_NE(convert.out.find(option), std::string::npos) << option;
    }
}

}  // namespace
