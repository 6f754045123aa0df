// Assertion reports, fatal checks, UTC time stamps, clocks and the tracing
// enable computation.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "logging/Diagnostics.h"
#include "logging/EventTracing.h"
#include "logging/LogManager.h"
#include "platform/Platform.h"
#include "tests/logging/RecordingTarget.h"

namespace {

using namespace Tavo::Diagnostics;
using Tavo::LogLevel;
using TavoTest::FreshLogManager;
using TavoTest::RecordingTarget;

TEST(AssertionReport, ListsOnlyTheGivenParts) {
    struct Row {
        const char* what;
        std::string actual;
        const char* expected;
    } rows[] = {
        {"code only", AssertionReport("ALE-8A14EBBK", nullptr, 0, nullptr, nullptr),
         "Assertion failed!\n\nExpression: ALE-8A14EBBK"},
        {"file and line", AssertionReport(nullptr, "a", 7, nullptr, nullptr),
         "Assertion failed!\n\nFile: a\nLine: 7\n\n"},
        {"empty texts count as missing", AssertionReport("", "", 0, "", ""),
         "Assertion failed!\n\n"},
        {"everything", AssertionReport("ALE-EECF0606", "m.cpp", 12, "Load", "bad version"),
         "Assertion failed!\n\nFile: m.cpp\nLine: 12\n\nFunction: Load\n\n"
         "Expression: ALE-EECF0606\n\nDescription: bad version"},
        {"description without expression", AssertionReport(nullptr, nullptr, 0, nullptr, "d"),
         "Assertion failed!\n\n\n\nDescription: d"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(Report, LogsTheReportAtErrorWithGroupDbgAndContinues) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    TAVO_REPORT("ALE-12345678", "value %d", 42);
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].level, LogLevel::Error);
    EXPECT_EQ(target.seen[0].groups, Tavo::LogGroup::DBG);
    const std::string& text = target.seen[0].message;
    EXPECT_EQ(text.rfind("Assertion failed!\n\nFile: ", 0), 0u);
    EXPECT_NE(text.find("Function: TestBody\n\nExpression: ALE-12345678\n\nDescription: value 42"),
              std::string::npos);
    // A '%' in the report is text, not a format.
    Report("ALE-%s%n", nullptr, 0, nullptr, "%s", "100%");
    ASSERT_EQ(target.seen.size(), 2u);
    EXPECT_EQ(target.seen[1].message,
              "Assertion failed!\n\nExpression: ALE-%s%n\n\nDescription: 100%");
}

TEST(Report, DescriptionIsCutAt1023Characters) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    const std::string longText(3000, 'd');
    Report("ALE-00000000", nullptr, 0, nullptr, "%s", longText.c_str());
    ASSERT_EQ(target.seen.size(), 1u);
    const std::string prefix = "Assertion failed!\n\nExpression: ALE-00000000\n\nDescription: ";
    EXPECT_EQ(target.seen[0].message, prefix + std::string(1023, 'd'));
}

TEST(FatalCheckDeathTest, LogsTheReportThenEndsTheProcess) {
    EXPECT_EXIT(
        {
            FreshLogManager manager;
            TAVO_FATAL(kIncompatibleHostApi, "host API %s", "17.0.0");
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); },
        "ERROR\\| Assertion failed!(.|\n)*Expression: ALE-EECF0606\n\nDescription: host API "
        "17.0.0");
}

std::string g_lastExpression;
void RecordAssertion(const char* expression, const char*, int, const char*) {
    g_lastExpression = expression;
}

TEST(Assertion, HandlerCanBeReplacedAndRestored) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    const AssertionHandler previous = SetAssertionHandler(&RecordAssertion);
    const int depth = 0;
    TAVO_ASSERT(depth > 0);
    TAVO_ASSERT(depth == 0);
    EXPECT_EQ(g_lastExpression, "depth > 0");
    EXPECT_TRUE(target.seen.empty());
    SetAssertionHandler(previous);
    TAVO_ASSERT(depth > 1);  // the default reports and returns
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_NE(target.seen[0].message.find("Expression: depth > 1"), std::string::npos);
}

TEST(FormatUtcTime, FormatsSecondsSince1970) {
    struct Row {
        std::int64_t seconds;
        const char* expected;
    } rows[] = {
        {0, "1970-01-01T00:00:00Z"},
        {1796462296, "2026-12-05T09:18:16Z"},
        {951782400, "2000-02-29T00:00:00Z"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(FormatUtcTime(row.seconds), row.expected);
    }
}

TEST(FormatUtcTime, UnconvertibleInstantReportsAndGivesEmptyText) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    EXPECT_EQ(FormatUtcTime(std::numeric_limits<std::int64_t>::max()), "");
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].message, "Assertion failed!\n\nExpression: ALE-8A14EBBK");
}

TEST(Clocks, ElapsedSecondsGrowFromTheFirstReading) {
    EXPECT_EQ(CounterFrequency(), Tavo::Platform::HighResolutionFrequency());
    const double first = ElapsedSeconds();
    const double second = ElapsedSeconds();
    EXPECT_GE(first, 0.0);
    EXPECT_GE(second, first);
    const Tavo::LogTime now = LocalTimeFields();
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

TEST(EventTracing, EventEnabledByLevelAndKeywords) {
    struct Row {
        const char* what;
        std::uint8_t eventLevel;
        std::uint64_t keyword;
        std::uint8_t providerLevel;
        std::uint64_t any, all;
        bool enabled;
    } rows[] = {
        // Level test only for events without keywords.
        {"no keywords, level within", 4, 0, 5, 0, 0, true},
        {"no keywords, level above", 5, 0, 4, 0, 0, false},
        {"provider level 0 takes every level", 5, 0, 0, 0, 0, true},
        // Keywords must meet the any-mask and hold the whole all-mask.
        {"keyword in any", 0, 0x1, 0, 0x1, 0, true},
        {"keyword outside any", 0, 0x2, 0, 0x1, 0, false},
        {"any 0 enables no keyworded event", 0, 0x1, 0, 0, 0, false},
        {"all-mask held", 0, 0x3, 0, 0x1, 0x3, true},
        {"all-mask not held", 0, 0x1, 0, 0x1, 0x3, false},
        {"keywords fine, level above", 3, 0x1, 2, 0x1, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TraceEventDescriptor event;
        event.level = row.eventLevel;
        event.keyword = row.keyword;
        EXPECT_EQ(TraceEventEnabled(event, row.providerLevel, row.any, row.all), row.enabled);
    }
}

TEST(EventTracing, CallbackStoresOrClearsTheProviderState) {
    const TraceEventDescriptor events[] = {kThreadNameEvent, {1, 0, 0, 5, 0, 0, 0}};
    bool enabled[2] = {};
    TraceProviderState state;
    OnTraceEnableCallback(state, events, enabled, kTraceControlEnable, 4, 0x1, 0);
    EXPECT_TRUE(state.enabled);
    EXPECT_EQ(state.level, 4);
    EXPECT_EQ(state.anyKeywords, 0x1u);
    EXPECT_TRUE(enabled[0]);
    EXPECT_FALSE(enabled[1]);                                   // level 5 above 4
    OnTraceEnableCallback(state, events, enabled, 2, 0, 0, 0);  // other codes change nothing
    EXPECT_TRUE(state.enabled);
    EXPECT_TRUE(enabled[0]);
    OnTraceEnableCallback(state, events, enabled, kTraceControlDisable, 4, 0x1, 0);
    EXPECT_FALSE(state.enabled);
    EXPECT_EQ(state.level, 0);
    EXPECT_FALSE(enabled[0]);
}

}  // namespace
