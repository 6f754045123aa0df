// The development host's own pieces, in process: scenario reading, virtual
// time, event names and the names a plugin library is loaded by.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "PluginLoader.h"
#include "ResourceStore.h"
#include "Scenario.h"
#include "Scheduler.h"
#include "VirtualClock.h"
#include "formats/Yaml.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;

TEST(HostScenario, ReadsDurationsAsSecondsOrUnitPartsAndRefusesTheRest) {
    struct Row {
        const char* yaml;
        VirtualTime milliseconds;  // -1: refused
    };
    const Row rows[] = {
        {"90", 90000},     {"1.5", 1500},      {"0", 0},       {"90s", 90000},   {"10m", 600000},
        {"2h", 7200000},   {"1h30m", 5400000}, {"250ms", 250}, {"1d", 86400000}, {"'90'", 90000},
        {"5m30s", 330000}, {"0.0005", 1},      {"''", -1},     {"5x", -1},       {"'-3'", -1},
        {"-3", -1},        {"1..2", -1},       {"m", -1},      {"true", -1},     {"1001d", -1},
        {"[1]", -1},       {"1 m", -1},        {"s5", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.yaml);
        VirtualTime time = -1;
        std::string error;
        const bool read = ParseDuration(ParseYaml(row.yaml).Value(), time, error);
        EXPECT_EQ(read, row.milliseconds >= 0) << error;
        if (read) {
            EXPECT_EQ(time, row.milliseconds * kNanosecondsPerMillisecond);
        } else {
            EXPECT_NE(error.find("duration"), std::string::npos) << error;
        }
    }
}

// What the expectations read is checked end to end (HostRun).
TEST(HostScenario, SortsStepsByTimeKeepingFileOrderForTies) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(
        ParseScenario("end: 1h\nsteps: [{at: 2m, delete: /a}, {at: 1m, set: /a, value: 2}, "
                      "{at: 1m, lcds: {error: down, status: 503}}, {at: 3m, lcds: {answer: 5}}]",
                      false, scenario, error))
        << error;
    std::string order;
    for (const ScenarioStep& step : scenario.steps) {
        order +=
            std::to_string(step.index) + " " + std::to_string(step.at / kNanosecondsPerSecond) +
            (step.action == ScenarioStep::Action::Lcds ? " " + step.lcds.Describe() : "") + "; ";
    }
    EXPECT_EQ(order, R"(1 60; 2 60 error 503 "down"; 0 120; 3 180 answer 5 (unsigned); )");
}

TEST(HostScenario, ReadsUtcTimesOfExactlyOneForm) {
    struct Row {
        const char* text;
        std::int64_t seconds;  // -1: refused
    };
    const Row rows[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-03-05T14:00:00Z", 1709647200},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"2000-02-29T12:00:00Z", 951825600},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2023-02-29T00:00:00Z", -1},  // not a leap year
        {"1900-02-29T00:00:00Z", -1},
        {"1969-12-31T23:59:59Z", -1},
        {"2024-03-05T24:00:00Z", -1},
        {"2024-03-05 14:00:00Z", -1},
        {"2024-03-05T14:00:00", -1},
        {"2024-03-05T14:00:00.5Z", -1},
        {"2024-3-5T14:00:00Z", -1},
        {"", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::int64_t seconds = -1;
        EXPECT_EQ(ParseUtcTime(row.text, seconds), row.seconds >= 0);
        if (row.seconds >= 0) {
            EXPECT_EQ(seconds, row.seconds);
        }
    }
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
         "unknown key 'expcet' (expected one of: name, description, start, resources, lcds, steps, "
         "end, expect)"},
        {"end: 1m\nstart: 2024-02-30T00:00:00Z",
         "start: \"2024-02-30T00:00:00Z\" is not a UTC time such as 2024-03-05T14:00:00Z"},
        {"end: 1m\nexpect: {answers: {odd: 1}}",
         "expect.answers: unknown kind of answer 'odd' (text, nothing, error, not convertible)"},
        {"end: 1m\nexpect: {timestamps: {first: 2024-03-05T14:01:00Z, every: 1.5s}}",
         "expect.timestamps.every: timestamps step in whole seconds"},
        {"end: 1m\nsteps: [{set: /a, value: 1}]", "steps[0]: every step needs 'at', its time"},
        {"end: 1m\nsteps: [{at: 5x, set: /a, value: 1}]",
         "steps[0].at: '5x' is not a duration: unknown unit 'x' (use seconds, or parts like 90s, "
         "10m, 2h, 1h30m, 250ms, 1d)"},
        {"end: 1m\nsteps: [{at: 1s, set: /a}]", "steps[0]: 'set' needs a 'value'"},
        {"end: 1m\nsteps: [{at: 1s, set: a, value: 1}]",
         "steps[0].set: a resource path begins with '/', got 'a'"},
        {"end: 1m\nsteps: [{at: 1s, delete: /a, lcds: nothing}]",
         "steps[0]: a step does exactly one of 'set', 'delete' and 'lcds'"},
        {"end: 1m\nsteps: [{at: 2m, delete: /a}]",
         "steps[0].at: +00:02:00.000 lies after the end +00:01:00.000"},
        {"end: 1m\nlcds: {error: x, status: 200}",
         "lcds.status: an error status lies in 400..599, got 200"},
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
    EXPECT_EQ(FoldCounts({1, 2, 3, 5, 7, 8}), "1..3, 5, 7..8");
    EXPECT_EQ(FoldCounts({3, 2}), "3, 2");
}

TEST(HostEventName, CutsThePathAsPluginsDo) {
    struct Row {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {"/vex-login/v1/session/invoke", "OnJsonApiEvent_vex-login_v1_session"},
        {"//vex-login//v1/", "OnJsonApiEvent_vex-login_v1"},
        {"", "OnJsonApiEvent"},
        {"/vex-platform-config/v1/a/b/c/d/e", "OnJsonApiEvent_vex-platform-config_v1_a_b_c"},
        {"/vex-other/v1/a/b", "OnJsonApiEvent_vex-other_v1_a"},
        {"/x/vex-platform-config/a/b/c", "OnJsonApiEvent_x_vex-platform-config_a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(EventNameForPath(row.path), row.name);
    }
}

TEST(HostClock, TakesDelaysToTheNanosecondAndPrintsMilliseconds) {
    EXPECT_EQ(DelayToVirtualTime(59.99998), 59999980000);
    EXPECT_EQ(DelayToVirtualTime(1e-10), 0);
    EXPECT_EQ(DelayToVirtualTime(-5), 0);
    EXPECT_EQ(DelayToVirtualTime(std::nan("")), 0);
    EXPECT_EQ(DelayToVirtualTime(std::numeric_limits<double>::infinity()), kMaxDelay);
    constexpr VirtualTime ms = kNanosecondsPerMillisecond;
    EXPECT_EQ(FormatVirtualTime(0), "+00:00:00.000");
    EXPECT_EQ(FormatVirtualTime(3723004 * ms + 999999), "+01:02:03.004");
    EXPECT_EQ(FormatVirtualTime(100LL * 3600000 * ms), "+100:00:00.000");
    EXPECT_EQ(FormatVirtualTime(-1500 * ms), "-00:00:01.500");
}

TEST(HostClock, TakesCallbacksByDueTimeThenSchedulingOrder) {
    Scheduler scheduler;
    scheduler.Schedule("late", nullptr, nullptr, 2);
    scheduler.Schedule("first", nullptr, nullptr, 1);
    scheduler.Schedule("second", nullptr, nullptr, 1.0);
    const std::uint64_t before = scheduler.NextSequence();
    scheduler.Schedule("after the mark", nullptr, nullptr, 0.5);

    constexpr VirtualTime s = kNanosecondsPerSecond;
    EXPECT_FALSE(scheduler.TakeDue(s - 1, before).has_value());
    EXPECT_EQ(scheduler.TakeDue(s, before)->description, "first");
    EXPECT_EQ(scheduler.TakeDue(s, before)->description, "second");
    // Without a mark, the earliest due comes first whatever its sequence.
    EXPECT_EQ(scheduler.TakeDue(5 * s)->description, "after the mark");
    EXPECT_EQ(scheduler.TakeDue(5 * s)->description, "late");
    EXPECT_EQ(scheduler.Size(), 0u);
}

// The provider the executable exports: the run's virtual time while a scope
// lives, the system's clocks before and after.
TEST(HostClock, ProviderFollowsTheRunOnlyWhileItLasts) {
    const Platform::DevClock* clock = ulm_dev_clock_v1();
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->version, Platform::kDevClockVersion);
    const std::int64_t start = 17'096'472'000'000'000;  // 2024-03-05T14:00:00Z
    Scheduler scheduler;
    {
        const VirtualClockScope scope(scheduler, start);
        EXPECT_EQ(clock->monotonicNanoseconds(), 0);
        EXPECT_EQ(clock->wallClock100ns(), start);
        scheduler.AdvanceTo(90 * kNanosecondsPerSecond + 250);
        EXPECT_EQ(clock->monotonicNanoseconds(), 90 * kNanosecondsPerSecond + 250);
        EXPECT_EQ(clock->wallClock100ns(), start + 900'000'002);
    }
    const std::int64_t real = RealWallClock100ns();
    EXPECT_LE(std::llabs(clock->wallClock100ns() - real), 10'000'000);  // within a second
}

TEST(HostPluginLoader, DerivesTheExportFromTheFileName) {
    struct Row {
        const char* path;
        const char* shortName;
        const char* symbol;
    };
    const Row rows[] = {
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
    PluginApiVersion version;  // a good one is offered end to end (HostRun)
    for (const char* bad :
         {"18", "18.0", "18.0.0.0", "18.-1.0", "a.b.c", "18.0.0 ", "4294967296.0.0"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseApiVersion(bad, version));
    }
}

}  // namespace
