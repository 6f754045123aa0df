// `ulm-host call` and the functions section of `ulm-host describe`, run as a
// user runs them, against the test plugin that exports the shop of ShopApi.h:
// the host loads it with dlopen and reaches the functions through nothing
// but the load record, the export block and the dispatch callback.

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
        int status;
        std::string out;
        std::string input = "";
    };
    const Row rows[] = {
        {{"GET", "/items/7/parts/a/b"},
         0,
         "status: 200\n{\n    \"id\": 7,\n    \"rest\": \"a/b\"\n}\n"},
        {{"get", "/search?flag&count=2"},
         0,
         "status: 200\n{\n    \"count\": 2,\n    \"flag\": true,\n    \"items\": null\n}\n"},
        // HEAD reaches the route flagged for GET and HEAD.
        {{"HEAD", "/search"},
         0,
         "status: 200\n{\n    \"count\": 0,\n    \"flag\": false,\n    \"items\": null\n}\n"},
        // Header names reach the function lower-cased, as the real host hands them.
        {{"POST", "/orders", "--body", "-", "--content-type", "application/x-yaml", "--header",
          "UserId=ann"},
         0,
         "status: 200\n{\n    \"item\": \"tea\",\n    \"notes\": [\n        \"x\",\n"
         "        \"by ann\"\n    ],\n    \"quantity\": 0\n}\n",
         "item: tea\nnotes: [x]\n"},
        // Each --arg is one value exactly as typed, a JSON list included.
        {{"GET", "/search", "--arg", "true", "--arg", "2", "--arg", "[1,2]"},
         0,
         "status: 200\n{\n    \"count\": 2,\n    \"flag\": true,\n    \"items\": [\n        1,\n"
         "        2\n    ]\n}\n"},
        {{"GET", "/search", "--arg", "true", "--arg", "2", "--arg", "[]"},
         0,
         "status: 200\n{\n    \"count\": 2,\n    \"flag\": true,\n    \"items\": []\n}\n"},
        {{"POST", "/add/1", "--arg", "2", "--arg", "3", "--json"},
         0,
         "{\n    \"headers\": [],\n    \"result\": 123,\n    \"status\": 200\n}\n"},
        {{"ECHO", "/echo", "--header", "a=1"},
         0,
         "status: 201\ncontent-type: text/plain\nheader: x-path: /echo\nheader: x-method: \n"
         "header: a: 1\n0\n"},
        // Failures the plugin answers, an exception included: exit status 1.
        {{"GET", "/throw"}, 1, "status: 500\nerror: Unhandled exception: boom\n"},
        {{"POST", "/orders"}, 1, "status: 400\nerror: A value for 'order' is required.\n"},
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
    EXPECT_EQ(Call({"GET", "/a.b", "--header", "no-equals-sign"}).status, 2);
    outcome = Call({"POST", "/orders", "--body", "/nonexistent/body"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot read the body"), std::string::npos);
}

// The help names each option's value once, as a plain metavariable.
TEST(HostCall, HelpShowsPlainMetavariables) {
    const Outcome outcome = RunHost({"call", "--help"});
    EXPECT_EQ(outcome.status, 0);
    for (const char* shown : {"--header NAME=VALUE", "--arg VALUE", "--api-version X.Y.Z",
                              "--plugin PATH", "lower-cased"}) {
        EXPECT_NE(outcome.out.find(shown), std::string::npos) << shown << "\n" << outcome.out;
    }
    EXPECT_EQ(outcome.out.find(":NAME=VALUE"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find(":X.Y.Z"), std::string::npos) << outcome.out;
}

// The whole functions section: every argument's kind, place and options.
TEST(HostDescribe, ListsTheFunctionsWithTheirArguments) {
    const Outcome outcome = RunHost({"describe", "--plugin", kPlugin});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("  struct Order  size "), std::string::npos) << outcome.out;
    const std::size_t functions = outcome.out.find("Functions (8)");
    ASSERT_NE(functions, std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.substr(functions),
              "Functions (8)\n"
              "  GetPart  GET /items/{id}/parts/{+rest}  returns object\n"
              "      Reads a part of an item.\n"
              "      id             uint32                               from path  Item number\n"
              "      rest           string                               from path\n"
              "  GetDotted  GET /a.b  returns string\n"
              "  Search  GET /search  (GET and HEAD only)  returns object\n"
              "      flag           bool                                 from query\n"
              "      count          int32                                from query  optional\n"
              "      items          object                               from any  optional\n"
              "  PlaceOrder  POST /orders  returns struct Order\n"
              "      order          struct Order                         from body\n"
              "      userId         string                               from any  optional\n"
              "  Add  POST /add/{a}  returns int32  thread-safe\n"
              "      a              int32                                from path\n"
              "      b              int32                                from any\n"
              "      c              int32                                from any  optional\n"
              "  Fail  GET /fail/{code}\n"
              "      code           int32                                from path\n"
              "  Echo  ECHO /echo  returns uint64\n"
              "  Throw  GET /throw  returns string\n");
}

}  // namespace
}  // namespace Tavo::Testing
