// ulm-host run and describe, end to end against the real heartbeat plugin:
// the built executable runs as a child process; its output and exit status
// are checked. The scenario files of scenarios/ run as tests of their own
// (host.scenario.*); these cases cover the command itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Scenario.h"
#include "formats/JsonReader.h"
#include "tests/host/HostProcess.h"

namespace {

using namespace Tavo::Testing;

void ExpectAll(const std::string& text, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n---\n" << text;
    }
}

// Writes `text` to a fresh file in the test's temporary directory.
std::string ScenarioFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

// `ulm-host run` with the heartbeat plugin, unless `args` names another.
Outcome RunPlugin(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--plugin") == args.end()) {
        args.insert(args.begin(), {"--plugin", TAVO_PLUGIN});
    }
    args.insert(args.begin(), "run");
    return RunHost(args);
}

// `text` without the summary's first line, the one that reports real time.
std::string WithoutWallTime(const std::string& text) {
    const std::size_t begin = text.find("\nSummary of ");
    const std::size_t end = begin == std::string::npos ? begin : text.find('\n', begin + 1);
    return end == std::string::npos ? text : text.substr(0, begin) + text.substr(end);
}

// Without a plugin or scenario: the built-in scenario against the plugin built
// beside ulm-host, which accepts the newer host API offered and meets every
// expectation. The plugin lives in the run's virtual time, so a second run
// prints the same lines but the one that reports real time.
TEST(HostRun, PlaysTheBuiltInScenarioAgainstThePluginBesideItReproducibly) {
    const Outcome outcome = RunHost({"run", "--api-version", "18.3.0"});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    ExpectAll(
        outcome.out,
        {"plugin API 18.0.0, host API 18.3.0\n",
         "  subscribe  OnJsonApiEvent_vex-login_v1_session flags=0\n",
         "request    GET /vex-login/v1/session -> 200 "
         "{\"accountId\":9,\"state\":\"SUCCEEDED\",\"summonerId\":7}\n",
         "+00:01:00.000  lcds       loginService.performLCDSHeartBeat(9, \"\", 1, "
         "\"2024-03-05T14:01:00Z\") -> \"ok\"\n",
         "  log        ERROR vex-heartbeat: Error response for POST /vex-login/v1/session/invoke: "
         "LCDS loginService.performLCDSHeartBeat failed: LCDS is unavailable\n",
         "  heartbeats      62 sent, 1 failed\n", "  answers         61 text, 1 error\n",
         "  accounts        9: 27, 10: 35\n", "  subscriptions   5 at the end, 0 after Shutdown\n",
         "All 10 checks passed.\n"});
    EXPECT_EQ(outcome.err, "");
    const Outcome again = RunHost({"run", "--api-version", "18.3.0"});
    EXPECT_EQ(WithoutWallTime(again.out), WithoutWallTime(outcome.out));
    EXPECT_NE(WithoutWallTime(outcome.out).find("\n  heartbeats "), std::string::npos);

    // --print-scenario writes it as a scenario file that reads back.
    const Outcome printed = RunHost({"run", "--print-scenario"});
    EXPECT_EQ(printed.status, 0);
    ExpectAll(printed.out, {"# A scenario for `ulm-host run --scenario FILE`"});
    Tavo::Host::Scenario scenario;
    std::string error;
    EXPECT_TRUE(Tavo::Host::ParseScenario(printed.out, false, scenario, error)) << error;
    EXPECT_EQ(scenario.name, "built-in");
}

// Every kind of expectation, unmet; the session set and deleted at one time
// stays deleted (steps keep their file order), so no heartbeat is sent.
TEST(HostRun, FailsNamingEachUnmetExpectation) {
    const Outcome outcome = RunPlugin({"--scenario", ScenarioFile("unmet.yaml", R"(
steps:
  - {at: 1m, set: /vex-login/v1/session, value: {state: SUCCEEDED, summonerId: 7, accountId: 9}}
  - {at: 1m, delete: /vex-login/v1/session}
end: 3m
expect:
  heartbeats: 5
  failed: 1
  answers: {text: 2, not convertible: 1}
  accounts: {10: 1, 9: 2}
  counts: [1, "2..3"]
  times: [1m, 90s]
  timestamps: [2024-03-05T14:01:00Z]
  logs: [{level: warn, contains: x}, {level: 2, contains: why, count: 0}]
  subscriptions: 2
)")});
    EXPECT_EQ(outcome.status, 1);
    ExpectAll(outcome.out,
              {"FAILED: heartbeats: expected 5, got 0\n"
               "FAILED: failed heartbeats: expected 1, got 0\n"
               "FAILED: answers: expected 2 text, 1 not convertible, got none\n"
               "FAILED: accounts: expected 9: 2, 10: 1, got none\n"
               "FAILED: counts: expected 1..3, got none\n"
               "FAILED: heartbeat times: expected [+00:01:00.000, +00:01:30.000], got []\n"
               "FAILED: heartbeat timestamps: expected [2024-03-05T14:01:00Z], got []\n"
               "FAILED: WARN lines containing 'x': expected at least one, got none\n"
               "FAILED: subscriptions at the end: expected 2, got 5\n"
               "9 of 14 checks failed.\n"});
}

TEST(HostRun, WritesEveryLineAsJsonWithJson) {
    const Outcome outcome =
        RunPlugin({"--scenario", ScenarioFile("json.yaml", "end: 2m\n"), "--json"});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    std::istringstream lines(outcome.out);
    std::string kinds;
    for (std::string line; std::getline(lines, line);) {
        Tavo::BindingResult parsed = Tavo::ParseJson(line);
        ASSERT_TRUE(parsed.IsOk()) << line;
        kinds += std::string(parsed.Value().Find("kind").GetString()) + " ";
    }
    // Without a session every tick is idle: its callback line is followed by
    // an idle line instead of a request.
    EXPECT_TRUE(kinds.starts_with("scenario ") &&
                kinds.find(" callback schedule idle ") != kinds.npos &&
                kinds.ends_with(" summary result "))
        << kinds;
}

// The plugin, not the host, decides which host versions it accepts; a
// refused one ends the process with the plugin's fatal report.
TEST(HostRun, ReportsWhatItCannotLoadReadOrOffer) {
    const std::string bad = ScenarioFile("bad.yaml", "end: 1m\nsteps: [{at: 1s, set: /a}]\n");
    struct Row {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> parts;  // of the standard error
    };
    const Row rows[] = {
        {{"--plugin", "/nonexistent/ulm-be-x.so", "--quiet"},
         1,
         {"ulm-host run: cannot load '/nonexistent/ulm-be-x.so'"}},
        {{"--scenario", bad}, 1, {"ulm-host run: " + bad + ": steps[0]: 'set' needs a 'value'\n"}},
        {{"--scenario", "/nonexistent.yaml"},
         1,
         {"ulm-host run: cannot read '/nonexistent.yaml'\n"}},
        {{"--api-version", "18.x"}, 2, {"--help"}},
        {{"--api-version", "19.0.0"},
         134,
         {"ALE-EECF0606",
          "vex-heartbeat which supports plugin API 18.0.0 is not compatible with core's plugin API "
          "19.0.0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const Outcome outcome = RunPlugin(row.args);
        EXPECT_EQ(outcome.status, row.status);
        ExpectAll(outcome.err, row.parts);
    }
}

TEST(HostDescribe, ListsThePluginsTypesFieldsValuesAndEventsAsTextOrJson) {
    const Outcome text = RunHost({"describe", "--plugin", TAVO_PLUGIN});
    EXPECT_EQ(text.status, 0) << text.err;
    ExpectAll(text.out, {"export load_vex_heartbeat, plugin API 18.0.0 (host offered 18.0.0)",
                         "  enum LoginSessionStates  size 4  tags: Plugins, Plugin vex-heartbeat\n"
                         "      ERROR = 3\n      IN_PROGRESS = 0\n      LOGGING_OUT = 2\n"
                         "      SUCCEEDED = 1\n",
                         "  struct LoginSession  size 24  tags: Plugins, Plugin vex-heartbeat\n"
                         "      state          enum LoginSessionStates              offset 0\n"
                         "      summonerId     uint64                               offset 8\n"
                         "      accountId      uint64                               offset 16\n",
                         "  OnJsonApiEvent  payload PluginResourceEvent  tags: tclient\n"
                         "      Fired when a resource is changed.\n",
                         "Functions (0)"});
    EXPECT_EQ(text.out.find("warning"), std::string::npos) << text.out;

    const Outcome json = RunHost({"describe", "--plugin", TAVO_PLUGIN, "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(Tavo::ParseJson(json.out).IsOk()) << json.out;
    ExpectAll(json.out, {"\n    \"functions\": [],\n", "\"symbol\": \"load_vex_heartbeat\"",
                         "\"kind\": 16,\n                    \"kindName\": \"enum\",\n"
                         "                    \"name\": \"state\",\n",
                         "\"typeName\": \"LoginSessionStates\"", "\n    \"warnings\": []\n"});
}

}  // namespace
