// `ulm-host call` and the functions section of `ulm-host describe`, run as a
// user runs them, against the test plugin that exports REST functions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/host/HostProcess.h"

namespace Tavo::Testing {
namespace {

const std::string kPlugin = TAVO_REMOTING_TEST_PLUGIN;

Outcome Call(std::vector<std::string> args, std::string_view input = {}) {
    args.insert(args.begin(), {"call", "--plugin", kPlugin});
    return RunHost(args, input);
}

TEST(HostCall, PrintsTheStatusHeadersAndResult) {
    struct Row {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
    };
    const Row rows[] = {
        {{"GET", "/books/1"},
         "",
         0,
         "status: 200\n{\n    \"id\": 1,\n    \"tags\": [\n        \"sf\"\n    ],\n    \"title\": "
         "\"Dune\"\n}\n"},
        {{"get", "/books?title=m&limit=1", "--json"},
         "",
         0,
         "{\n    \"headers\": [],\n    \"result\": [\n        {\n            \"id\": 2,\n"
         "            \"tags\": [],\n            \"title\": \"Emma\"\n        }\n    ],\n"
         "    \"status\": 200\n}\n"},
        {{"POST", "/books", "--body", "-", "--content-type", "application/json", "--header",
          "user=ann"},
         R"({"title":"Ulysses"})",
         0,
         "status: 200\n{\n    \"id\": 3,\n    \"tags\": [\n        \"by:ann\"\n    ],\n    "
         "\"title\": "
         "\"Ulysses\"\n}\n"},
        {{"POST", "/sum/1", "--arg", "20", "--arg", "300"}, "", 0, "status: 200\n321\n"},
        {{"GET", "/whoami", "--header", "user=bo"},
         "",
         0,
         "status: 200\nheader: x-method: GET\n\"bo\"\n"},
        // Failures the plugin answers: exit status 1.
        {{"GET", "/books/9"}, "", 1, "status: 404\nerror: No book number 9.\n"},
        {{"POST", "/books"}, "", 1, "status: 400\nerror: A value for 'book' is required.\n"},
        {{"DELETE", "/books/1"}, "", 1, "status: 404\nerror: Invalid function\n"},
        {{"PURGE", "/books"}, "", 1, "status: 404\nerror: Invalid function\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        const Outcome outcome = Call(row.args, row.input);
        EXPECT_EQ(outcome.status, row.status) << outcome.err;
        EXPECT_EQ(outcome.out, row.out);
    }
}

TEST(HostCall, RefusesWhatItCannotSend) {
    Outcome outcome = RunHost({"call", "--plugin", kPlugin + ".missing", "GET", "/"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("ulm-host call: "), std::string::npos);
    outcome = Call({"GET", "/books/1", "--header", "no-equals-sign"});
    EXPECT_EQ(outcome.status, 2);
    outcome = Call({"POST", "/books", "--body", "/nonexistent/body"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot read the body"), std::string::npos);
}

TEST(HostDescribe, ListsTheFunctionsWithTheirArguments) {
    const Outcome outcome = RunHost({"describe", "--plugin", kPlugin});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string functions = outcome.out.substr(outcome.out.find("Functions (5)"));
    const char* expected[] = {
        "  GetBook  GET /books/{id}  returns struct Book\n      Reads one book.\n"
        "      id             uint32                               from path  Book number\n",
        "  FindBooks  GET /books  (GET and HEAD only)  returns vector of struct Book\n",
        "      title          string                               from query  optional  Part of "
        "the title\n",
        "      user           string                               from header  optional  Who adds "
        "it\n",
        "  Sum  POST /sum/{a}  returns int64  thread-safe\n",
        "      b              int64                                from any\n",
        "  WhoAmI  GET /whoami  returns string\n",
    };
    for (const char* text : expected) {
        EXPECT_NE(functions.find(text), std::string::npos) << text << "\nin:\n" << functions;
    }
}

}  // namespace
}  // namespace Tavo::Testing
