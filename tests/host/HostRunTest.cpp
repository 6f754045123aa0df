// ulm-host run and describe, end to end against the real heartbeat plugin:
// the built executable runs as a child process; its output and exit status
// are checked. The scenario files of scenarios/ run as tests of their own
// (host.scenario.*); these cases cover the command itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "formats/JsonReader.h"
#include "host/Scenario.h"
#include "tests/host/HostProcess.h"

namespace {

using Tavo::BindingProperty;
using Tavo::Testing::Outcome;
using Tavo::Testing::RunHost;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Writes `text` to a fresh file in the test's temporary directory.
std::string ScenarioFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

std::vector<std::string> RunArgs(std::vector<std::string> more) {
    std::vector<std::string> args = {"run", "--plugin", TAVO_PLUGIN};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(HostRun, FailsNamingEachUnmetExpectation) {
    const std::string path = ScenarioFile("unmet.yaml", R"(
name: unmet
end: 3m
expect:
  heartbeats: 5
  logs: [{level: error, contains: nope}]
)");
    const Outcome outcome = RunHost(RunArgs({"--scenario", path}));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.out, "FAILED: heartbeats: expected 5, got 0")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out,
                         "FAILED: ERROR lines containing 'nope': expected at least "
                         "one, got none"))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "2 of ")) << outcome.out;
}

TEST(HostRun, WritesEveryLineAsJsonWithJson) {
    const std::string path = ScenarioFile("json.yaml", "end: 2m\n");
    const Outcome outcome = RunHost(RunArgs({"--scenario", path, "--json"}));
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    std::istringstream lines(outcome.out);
    std::string line;
    std::vector<std::string> kinds;
    while (std::getline(lines, line)) {
        SCOPED_TRACE(line);
        Tavo::BindingResult parsed = Tavo::ParseJson(line);
        ASSERT_TRUE(parsed.IsOk());
        kinds.emplace_back(parsed.Value().Find("kind").GetString());
    }
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), "scenario");
    EXPECT_EQ(kinds.back(), "result");
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "summary"), kinds.end());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "callback"), kinds.end());
}

TEST(HostRun, ReportsWhatItCannotLoadOrRead) {
    const Outcome noPlugin = RunHost({"run", "--plugin", "/nonexistent/ulm-be-x.so", "--quiet"});
    EXPECT_EQ(noPlugin.status, 1);
    EXPECT_TRUE(Contains(noPlugin.err, "ulm-host run: cannot load '/nonexistent/ulm-be-x.so'"))
        << noPlugin.err;

    const std::string bad = ScenarioFile("bad.yaml", "end: 1m\nsteps: [{at: soon, delete: /a}]\n");
    const Outcome badScenario = RunHost(RunArgs({"--scenario", bad}));
    EXPECT_EQ(badScenario.status, 1);
    EXPECT_EQ(badScenario.err, "ulm-host run: " + bad +
                                   ": steps[0].at: 'soon' is not a duration (use seconds, or "
                                   "parts like 90s, 10m, 2h, 1h30m, 250ms, 1d)\n");

    const Outcome missing = RunHost(RunArgs({"--scenario", "/nonexistent.yaml"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "ulm-host run: cannot read '/nonexistent.yaml'\n");

    EXPECT_EQ(RunHost(RunArgs({"--api-version", "18.x"})).status, 2);
}

// The plugin, not the host, decides which host versions it accepts; a
// refused one ends the process with the plugin's fatal report.
TEST(HostRun, OffersTheChosenApiVersion) {
    const std::string path = ScenarioFile("short.yaml", "end: 1s\n");
    const Outcome newer = RunHost(RunArgs({"--scenario", path, "--api-version", "18.3.0"}));
    EXPECT_EQ(newer.status, 0);
    EXPECT_TRUE(Contains(newer.out, "plugin API 18.0.0, host API 18.3.0")) << newer.out;

    const Outcome refused = RunHost(RunArgs({"--scenario", path, "--api-version", "19.0.0"}));
    EXPECT_EQ(refused.status, 134);
    EXPECT_TRUE(Contains(refused.err, "ALE-EECF0606")) << refused.err;
    EXPECT_TRUE(Contains(refused.err,
                         "vex-heartbeat which supports plugin API 18.0.0 is not "
                         "compatible with core's plugin API 19.0.0"))
        << refused.err;
}

TEST(HostRun, PrintsTheBuiltInScenarioAsAValidScenario) {
    const Outcome outcome = RunHost({"run", "--print-scenario"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(Contains(outcome.out, "# A scenario for `ulm-host run --scenario FILE`"));
    Tavo::Host::Scenario scenario;
    std::string error;
    EXPECT_TRUE(Tavo::Host::ParseScenario(outcome.out, false, scenario, error)) << error;
    EXPECT_EQ(scenario.name, "built-in");
}

TEST(HostDescribe, ListsThePluginsTypesFieldsValuesAndEvents) {
    const Outcome outcome = RunHost({"describe", "--plugin", TAVO_PLUGIN});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    for (const char* line : {
             "export load_vex_heartbeat, plugin API 18.0.0 (host offered 18.0.0)",
             "  enum LoginSessionStates  size 4  tags: Plugins, Plugin vex-heartbeat\n"
             "      ERROR = 3\n      IN_PROGRESS = 0\n      LOGGING_OUT = 2\n"
             "      SUCCEEDED = 1\n",
             "  struct LoginSession  size 24  tags: Plugins, Plugin vex-heartbeat\n"
             "      state          enum LoginSessionStates              offset 0\n"
             "      summonerId     uint64                               offset 8\n"
             "      accountId      uint64                               offset 16\n",
             "  OnJsonApiEvent  payload PluginResourceEvent  tags: tclient\n"
             "      Fired when a resource is changed.\n",
             "Functions (0)",
         }) {
        EXPECT_TRUE(Contains(outcome.out, line)) << line << "\n---\n" << outcome.out;
    }
    EXPECT_FALSE(Contains(outcome.out, "warning")) << outcome.out;
}

TEST(HostDescribe, WritesOneJsonDocumentWithJson) {
    const Outcome outcome = RunHost({"describe", "--plugin", TAVO_PLUGIN, "--json"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    Tavo::BindingResult parsed = Tavo::ParseJson(outcome.out);
    ASSERT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
    const BindingProperty& types = parsed.Value().Find("types");
    const BindingProperty* session = nullptr;
    for (const BindingProperty& type : types.Elements()) {
        if (type.Find("name").GetString() == "LoginSession") {
            session = &type;
        }
    }
    ASSERT_NE(session, nullptr);
    const BindingProperty& state = session->Find("fields").ElementAt(0);
    EXPECT_EQ(state.Find("kind").GetUnsigned(), 16u);
    EXPECT_EQ(state.Find("typeName").GetString(), "LoginSessionStates");
    EXPECT_EQ(parsed.Value().Find("plugin").Find("symbol").GetString(), "load_vex_heartbeat");
    EXPECT_EQ(parsed.Value().Find("functions").Size(), 0u);
    EXPECT_EQ(parsed.Value().Find("warnings").Size(), 0u);
}

}  // namespace
