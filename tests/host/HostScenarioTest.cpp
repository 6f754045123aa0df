// The development host's own pieces, in process: scenario reading, virtual
// time, event names and the names a plugin library is loaded by.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "formats/Yaml.h"
#include "host/PluginLoader.h"
#include "host/ResourceStore.h"
#include "host/Scenario.h"
#include "host/Scheduler.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;

BindingProperty Yaml(const char* text) {
    BindingResult parsed = ParseYaml(text);
    EXPECT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
    return std::move(parsed.Value());
}

TEST(HostScenario, ReadsDurationsAsSecondsOrUnitParts) {
    struct Row {
        const char* yaml;
        VirtualTime expected;
    };
    const Row rows[] = {
        {"90", 90000},    {"1.5", 1500},   {"0", 0},           {"90s", 90000},
        {"10m", 600000},  {"2h", 7200000}, {"1h30m", 5400000}, {"250ms", 250},
        {"1d", 86400000}, {"'90'", 90000}, {"5m30s", 330000},  {"0.0005", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.yaml);
        VirtualTime time = -1;
        std::string error;
        EXPECT_TRUE(ParseDuration(Yaml(row.yaml), time, error)) << error;
        EXPECT_EQ(time, row.expected);
    }
}

TEST(HostScenario, RefusesWhatIsNotADuration) {
    const char* rows[] = {"''",   "5x",    "'-3'", "-3",  "1..2", "m",
                          "true", "1001d", "[1]",  "1 m", "s5"};
    for (const char* yaml : rows) {
        SCOPED_TRACE(yaml);
        VirtualTime time = 0;
        std::string error;
        EXPECT_FALSE(ParseDuration(Yaml(yaml), time, error));
        EXPECT_NE(error.find("duration"), std::string::npos) << error;
    }
}

TEST(HostScenario, ReadsResourcesStepsInTimeOrderAndExpectations) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario(R"(
name: demo
resources:
  /a/b: {x: 1}
lcds: nothing
steps:
  - {at: 2m, delete: /a/b}
  - {at: 1m, set: /a/b, value: 2}
  - {at: 1m, lcds: {error: down, status: 503}}
  - {at: 3m, lcds: {answer: 5}}
end: 1h
expect:
  heartbeats: 3
  accounts: {10: 1, 9: 2}
  counts: [1, "2..3"]
  times: [1m, 90s]
  logs: [{level: warn, contains: x}, {level: 2, contains: why, count: 0}]
  subscriptions: 2
)",
                              false, scenario, error))
        << error;
    EXPECT_EQ(scenario.name, "demo");
    ASSERT_EQ(scenario.resources.size(), 1u);
    EXPECT_EQ(scenario.resources[0].first, "/a/b");
    EXPECT_EQ(scenario.lcds.mode, LcdsBehaviour::Mode::Nothing);
    EXPECT_EQ(scenario.end, 3600000);

    // Stable by time: the two steps at 1m keep their file order.
    ASSERT_EQ(scenario.steps.size(), 4u);
    EXPECT_EQ(scenario.steps[0].action, ScenarioStep::Action::Set);
    EXPECT_EQ(scenario.steps[0].value.GetUnsigned(), 2u);
    EXPECT_EQ(scenario.steps[1].action, ScenarioStep::Action::Lcds);
    EXPECT_EQ(scenario.steps[1].lcds.mode, LcdsBehaviour::Mode::Error);
    EXPECT_EQ(scenario.steps[1].lcds.status, 503);
    EXPECT_EQ(scenario.steps[2].action, ScenarioStep::Action::Delete);
    EXPECT_EQ(scenario.steps[3].lcds.mode, LcdsBehaviour::Mode::Answer);
    EXPECT_EQ(scenario.steps[3].lcds.typeName, "unsigned");

    const ScenarioExpectations& expect = scenario.expect;
    EXPECT_EQ(expect.heartbeats, 3u);
    EXPECT_FALSE(expect.failed.has_value());
    ASSERT_TRUE(expect.accounts.has_value());
    EXPECT_EQ(expect.accounts->begin()->first, "9");  // numeric order
    EXPECT_EQ(expect.counts, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(expect.times, (std::vector<VirtualTime>{60000, 90000}));
    ASSERT_EQ(expect.logs.size(), 2u);
    EXPECT_EQ(expect.logs[0].level, 1);
    EXPECT_FALSE(expect.logs[0].count.has_value());
    EXPECT_EQ(expect.logs[1].count, 0u);
    EXPECT_EQ(expect.subscriptions, 2u);
}

TEST(HostScenario, NamesTheOffendingPlaceOfABadScenario) {
    struct Row {
        const char* yaml;
        const char* error;
    };
    const Row rows[] = {
        {"[1]", "a scenario is a map with steps, end and expect (got [1])"},
        {"steps: []", "a scenario needs 'end', the virtual time at which it stops"},
        {"end: 1m\nexpcet: {}",
         "unknown key 'expcet' (expected one of: name, description, "
         "resources, lcds, steps, end, expect)"},
        {"end: 1m\nsteps: [{set: /a, value: 1}]", "steps[0]: every step needs 'at', its time"},
        {"end: 1m\nsteps: [{at: 5x, set: /a, value: 1}]",
         "steps[0].at: '5x' is not a duration: unknown unit 'x' (use seconds, or parts like 90s, "
         "10m, 2h, "
         "1h30m, 250ms, 1d)"},
        {"end: 1m\nsteps: [{at: 1s, set: /a}]", "steps[0]: 'set' needs a 'value'"},
        {"end: 1m\nsteps: [{at: 1s, set: a, value: 1}]",
         "steps[0].set: a resource path begins with '/', got 'a'"},
        {"end: 1m\nsteps: [{at: 1s, delete: /a, lcds: nothing}]",
         "steps[0]: a step does exactly one of 'set', 'delete' and 'lcds'"},
        {"end: 1m\nsteps: [{at: 2m, delete: /a}]",
         "steps[0].at: +00:02:00.000 lies after the end +00:01:00.000"},
        {"end: 1m\nlcds: {error: x, status: 200}",
         "lcds.status: an error status lies in "
         "400..599, got 200"},
        {"end: 1m\nlcds: {answer: 1, error: x}",
         "lcds: expected 'nothing', {answer: VALUE, typeName: TEXT} or {error: TEXT, status: "
         "CODE}"},
        {"end: 1m\nexpect: {heartbeats: -1}",
         "expect.heartbeats: expected a whole number >= 0, got -1"},
        {"end: 1m\nexpect: {counts: [\"3..1\"]}",
         "expect.counts: [0]: '3..1' is neither a count nor a range FIRST..LAST"},
        {"end: 1m\nexpect: {logs: [{level: loud}]}",
         "expect.logs[0].level: expected a level (okay, warn, error, always or 0 to 3), got "
         "\"loud\""},
        {"end: 1m\nresources: {a: 1}", "resources: a resource path begins with '/', got 'a'"},
        {"a: [1", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.yaml);
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(ParseScenario(row.yaml, false, scenario, error));
        EXPECT_EQ(error, row.error);
    }
}

TEST(HostScenario, FoldsCountsIntoRuns) {
    EXPECT_EQ(FoldCounts({}), "none");
    EXPECT_EQ(FoldCounts({1, 2, 3, 5, 7, 8}), "1..3, 5, 7..8");
    EXPECT_EQ(FoldCounts({3, 2}), "3, 2");
}

TEST(HostEventName, CutsThePathAsPluginsDo) {
    struct Row {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {"/vex-login/v1/session", "OnJsonApiEvent_vex-login_v1_session"},
        {"/vex-login/v1/session/invoke", "OnJsonApiEvent_vex-login_v1_session"},
        {"//vex-login//v1/", "OnJsonApiEvent_vex-login_v1"},
        {"", "OnJsonApiEvent"},
        {"/vex-platform-config/v1/namespaces/ClientSystemStates/clientHeartBeatRateSeconds",
         "OnJsonApiEvent_vex-platform-config_v1_namespaces_ClientSystemStates_"
         "clientHeartBeatRateSeconds"},
        {"/vex-platform-config/v1/a/b/c/d/e", "OnJsonApiEvent_vex-platform-config_v1_a_b_c"},
        {"/vex-other/v1/a/b", "OnJsonApiEvent_vex-other_v1_a"},
        {"/x/vex-platform-config/a/b/c", "OnJsonApiEvent_x_vex-platform-config_a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(EventNameForPath(row.path), row.name);
    }
    EXPECT_EQ(ResourcePathOfTarget("a/b?x=1"), "/a/b");
}

TEST(HostClock, RoundsDelaysToTheMillisecond) {
    EXPECT_EQ(DelayToVirtualTime(59.99998), 60000);
    EXPECT_EQ(DelayToVirtualTime(0.0004), 0);
    EXPECT_EQ(DelayToVirtualTime(-5), 0);
    EXPECT_EQ(DelayToVirtualTime(std::nan("")), 0);
    EXPECT_EQ(DelayToVirtualTime(std::numeric_limits<double>::infinity()), kMaxDelay);
    EXPECT_EQ(FormatVirtualTime(0), "+00:00:00.000");
    EXPECT_EQ(FormatVirtualTime(3723004), "+01:02:03.004");
    EXPECT_EQ(FormatVirtualTime(100LL * 3600000), "+100:00:00.000");
    EXPECT_EQ(FormatVirtualTime(-1500), "-00:00:01.500");
}

TEST(HostClock, TakesCallbacksByDueTimeThenSchedulingOrder) {
    Scheduler scheduler;
    scheduler.Schedule("late", nullptr, nullptr, 2);
    scheduler.Schedule("first", nullptr, nullptr, 1);
    scheduler.Schedule("second", nullptr, nullptr, 1.0001);  // rounds to the same millisecond
    const std::uint64_t before = scheduler.NextSequence();
    scheduler.Schedule("after the mark", nullptr, nullptr, 0.5);

    EXPECT_FALSE(scheduler.TakeDue(999, before).has_value());
    EXPECT_EQ(scheduler.TakeDue(1000, before)->description, "first");
    EXPECT_EQ(scheduler.TakeDue(1000, before)->description, "second");
    // Without a mark, the earliest due comes first whatever its sequence.
    EXPECT_EQ(scheduler.TakeDue(5000)->description, "after the mark");
    EXPECT_EQ(scheduler.TakeDue(5000)->description, "late");
    EXPECT_EQ(scheduler.Size(), 0u);
}

TEST(HostPluginLoader, DerivesTheExportFromTheFileName) {
    struct Row {
        const char* path;
        const char* shortName;
        const char* symbol;
    };
    const Row rows[] = {
        {"build/ulm-be-vex-heartbeat.so", "vex-heartbeat", "load_vex_heartbeat"},
        {"/x/libulm-fe-chat.so", "chat", "load_chat"},
        {"ulm-xx-a-b-c.so.1", "a-b-c", "load_a_b_c"},
        {"other.so", "other", "load_other"},
        {"/x/.so", "", "load_"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(ShortNameFromLibraryPath(row.path), row.shortName);
        EXPECT_EQ(ExportSymbolForShortName(ShortNameFromLibraryPath(row.path)), row.symbol);
    }
    PluginApiVersion version;
    EXPECT_TRUE(ParseApiVersion("18.3.1", version));
    EXPECT_EQ(version.ToText(), "18.3.1");
    for (const char* bad :
         {"18", "18.0", "18.0.0.0", "18.-1.0", "a.b.c", "18.0.0 ", "4294967296.0.0"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseApiVersion(bad, version));
    }
}

}  // namespace
