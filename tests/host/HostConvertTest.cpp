// ulm-host convert, end to end: the built executable runs as a child process
// with the input on its standard input; its standard output, standard error
// and exit status are checked.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/host/HostProcess.h"

namespace {

using namespace Tavo::Testing;

std::vector<std::string> Convert(const char* from, std::optional<std::string> indent = {}) {
    std::vector<std::string> args = {"convert", "--from", from, "--to", "json"};
    if (indent) {
        args.insert(args.end(), {"--indent", *indent});
    }
    return args;
}

TEST(HostConvert, WritesJsonAndANewlineOrTheReadersMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
        std::string err;  // the whole standard error
    };
    const Case cases[] = {
        {Convert("yaml"), "b: [1, -2, 2.5, yes, ~]\na: x\n", 0,
         "{\"a\":\"x\",\"b\":[1,-2,2.5,true,null]}\n", ""},
        {Convert("json"), "{\"b\": 1, \"a\": [true, null]}", 0, "{\"a\":[true,null],\"b\":1}\n",
         ""},
        {Convert("msgpack"), std::string("\x82\xA1\x62\x01\xA1\x61\xC3", 7), 0,
         "{\"a\":true,\"b\":1}\n", ""},
        // Standard input is read as bytes: NUL and 0x1A included.
        {Convert("msgpack"), std::string("\x92\xA3\x61\0b\x1A", 6), 0, "[\"a\\u0000b\",26]\n", ""},
        {Convert("yaml"), "", 0, "\n", ""},
        {Convert("json"), "  \n", 0, "\n", ""},
        // Indented with the line break given as escapes; an empty one is compact.
        {Convert("yaml", "\\n"), "a: [1]\n", 0, "{\n    \"a\": [\n        1\n    ]\n}\n", ""},
        {Convert("json", "\\r\\n"), "{\"a\":{}}", 0, "{\r\n    \"a\": {}\r\n}\n", ""},
        {Convert("json", ""), "[1, 2]", 0, "[1,2]\n", ""},
        // The reader's message; exit status 1.
        {Convert("yaml"), "a: [1, 2", 1, "",
         "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0\n"},
        {Convert("json"), "[1,]", 1, "", "Error: Invalid value. at offset 3.\n"},
        {Convert("msgpack"), "\xC1", 1, "", "Invalid MessagePack data at position 1.\n"},
        // One document: bytes after the value are not dropped silently.
        {Convert("msgpack"), "\x01\x02", 1, "",
         "Unexpected data after the MessagePack value at position 1.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[2] + " " + c.input);
        const Outcome outcome = RunHost(c.args, c.input);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
}

// Usage errors: exit 2 with CLI11's message and a pointer to --help.
TEST(HostConvert, RejectsAWrongCommandLineWithStatusTwo) {
    const std::vector<std::string> rows[] = {
        {},
        {"convert", "--from", "xml", "--to", "json"},
        {"convert", "--from", "json"},
        {"convert", "--from", "json", "--to", "yaml"},
        Convert("json", "\\q"),
        Convert("json", "\\"),
    };
    for (const std::vector<std::string>& args : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Outcome outcome = RunHost(args, "{}");
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_NE(outcome.err.find("--help"), std::string::npos) << outcome.err;
    }
}

}  // namespace
